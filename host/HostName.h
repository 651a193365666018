#pragma once

#include <string>

namespace vrax {

// The machine's name as the network knows it, in UTF-8 (on Linux a byte that is not UTF-8 shows
// as \xNN); empty when it cannot be read.
std::string HostName();

} // namespace vrax
