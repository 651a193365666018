#include "cli/HostSystem.h"

#include <cstdio>

#if defined(_WIN32)
#include "device/windows/WindowsHidPlatform.h"
#include <io.h>
#elif defined(__linux__)
#include "device/linux/HidrawPlatform.h"
#include <unistd.h>
#else
#include "device/NullHidPlatform.h"
#include <unistd.h>
#endif

namespace vrax {

std::unique_ptr<HidPlatform> MakeHardwarePlatform() {
#if defined(_WIN32)
    return std::make_unique<WindowsHidPlatform>();
#elif defined(__linux__)
    return std::make_unique<HidrawPlatform>();
#else
    return std::make_unique<NullHidPlatform>();
#endif
}

bool StandardErrorIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

} // namespace vrax
