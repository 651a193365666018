#include "host/UserName.h"

#include <cstdlib>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>

#include <vector>
#endif

namespace vrax {

std::string UserName() {
#ifdef _WIN32
    const char* name = std::getenv("USERNAME");
    return name != nullptr ? name : "";
#else
    // The account the process runs as; the environment may name another.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_name != nullptr) {
        return found->pw_name;
    }
    for (const char* variable : {"USER", "LOGNAME"}) {
        if (const char* name = std::getenv(variable)) {
            return name;
        }
    }
    return {};
#endif
}

} // namespace vrax
