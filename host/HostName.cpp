#include "host/HostName.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vrax {

std::string HostName() {
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string{};
#else
    char name[256] = "";
    return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string{};
#endif
}

} // namespace vrax
