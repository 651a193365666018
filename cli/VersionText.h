#pragma once

#include <string>

namespace vrax {

// What --version prints: the program's version, its licence and the libraries it is built with.
std::string VersionText();

} // namespace vrax
