#pragma once

#include "device/Kvqm31xLink.h"

#include <string>

namespace vrax {

// Outcomes in their order of precedence.
enum class MouseMatch { NoAnswer, Mismatch, Unmarked, NotReady, Match };

// Opens the command sequence (CmdBegin, CmdStatus) and classifies the status reply against
// the type the image was loaded for. Shows nothing; callers decide.
MouseMatch MatchImageToMouse(Kvqm31xLink& link, const std::string& loadedTypeName);

const char* MouseMatchName(MouseMatch match);

// Closes the command sequence (CmdFinish, CmdEnd); the results are not used.
void SendClosingCommands(Kvqm31xLink& link);

} // namespace vrax
