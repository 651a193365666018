#pragma once

#include "host/Utf8Text.h"

#include <string>

namespace vrax {

// A file's name as the records keep it: converted on Windows, where the program gets it in the
// code page; elsewhere a name that is not UTF-8 cannot be told right and is refused
// (RecordsError), before any mouse is touched.
std::string Utf8FileName(const std::string& name);

} // namespace vrax
