#include "host/HostName.h"

#include "host/Utf8Text.h"

#include <cstddef>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vrax {

std::string HostName() {
#ifdef _WIN32
    // In UTF-16: the code page cannot spell every computer name.
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size) || size == 0) {
        return {};
    }
    const int wide = static_cast<int>(size);
    const int narrow = WideCharToMultiByte(CP_UTF8, 0, name, wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(narrow > 0 ? narrow : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, name, wide, utf8.data(), narrow, nullptr, nullptr);
    return utf8;
#else
    char name[256] = "";
    return gethostname(name, sizeof name - 1) == 0 ? Utf8OfPlatformText(name) : std::string{};
#endif
}

} // namespace vrax
