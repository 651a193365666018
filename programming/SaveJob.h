#pragma once

#include "programming/StationContext.h"

#include <string>

namespace vrax {

// The file a chosen save name gives: ".bin" appended unless the name already ends in it, in
// any letter case.
std::string SaveFileName(const std::string& chosenPath);

enum class SaveOutcome { Saved, NotSaved };

// Reads the open mouse's 2048 bytes into ReadBackBuffer and, only when that read succeeded,
// writes them to the file. Throws FileError when the file cannot be created or written; the
// window is restored before that.
SaveOutcome RunSave(StationContext& context, const std::string& chosenPath);

} // namespace vrax
