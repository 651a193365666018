#pragma once

#include <string>

namespace vrax {

// Every command, option, fault name and exit code.
std::string HelpText();

} // namespace vrax
