#include "ErrorText.h"

#include <cstring>

namespace vrax {

namespace {

// glibc's strerror_r (g++ builds with _GNU_SOURCE) returns the text, not always in the buffer;
// the POSIX one fills the buffer and returns 0.
[[maybe_unused]] const char* TextOf(const char* text, const char*) {
    return text;
}
[[maybe_unused]] const char* TextOf(int, const char* buffer) {
    return buffer;
}

} // namespace

std::string ErrorText(int error) {
    char buffer[256] = "";
#ifdef _WIN32
    strerror_s(buffer, sizeof buffer, error);
    return buffer;
#else
    return TextOf(strerror_r(error, buffer, sizeof buffer), buffer);
#endif
}

} // namespace vrax
