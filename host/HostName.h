#pragma once

#include <string>

namespace vrax {

// The machine's name as the network knows it; empty when it cannot be read.
std::string HostName();

} // namespace vrax
