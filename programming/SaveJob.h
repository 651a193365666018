#pragma once

#include "programming/StationContext.h"

#include <string>

namespace vrax {

// The file a chosen save name gives: ".bin" appended unless the name already ends in it, in
// any letter case.
std::string SaveFileName(const std::string& chosenPath);

// Reads the open mouse's 2048 bytes into ReadBackBuffer and, only when that read succeeded,
// writes them to the file: "Save Pass" is shown after the read, and the outcome passes once the
// file is written. Throws FileError when the file cannot be created or written; the window is
// restored before that.
JobOutcome RunSave(StationContext& context, const std::string& chosenPath);

} // namespace vrax
