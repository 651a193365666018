#pragma once

#include <string>

namespace vrax {

// The login name of the user this process runs as; empty when it cannot be told.
std::string UserName();

} // namespace vrax
