#pragma once

#include <string>

namespace vrax {

// The C library's text for an errno value, as strerror gives it; safe on any thread, where
// strerror may share one buffer between them.
std::string ErrorText(int error);

} // namespace vrax
