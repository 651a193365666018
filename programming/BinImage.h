#pragma once

#include "programming/StationContext.h"

#include <string>

namespace vrax {

enum class LoadOutcome { Loaded, WrongSize, NoIcType };

// The start of every load, before the file dialog: no image, result labels hidden, polling off.
void BeginLoad(StationContext& context);

// Loads the chosen file as the image for the selected IC type. A file is accepted by its
// size alone. Throws FileError when the file cannot be opened or read.
LoadOutcome LoadBinFile(StationContext& context, const std::string& path);

// The expanded (absolute) form of a path as messages show it.
std::string ExpandFileName(const std::string& path);

} // namespace vrax
