#include "SystemHidPlatform.h"

#if defined(_WIN32)
#include "device/windows/WindowsHidPlatform.h"
#elif defined(__linux__)
#include "device/linux/HidrawPlatform.h"
#else
#include "device/NullHidPlatform.h"
#endif

namespace vrax {

std::unique_ptr<HidPlatform> MakeSystemHidPlatform() {
#if defined(_WIN32)
    return std::make_unique<WindowsHidPlatform>();
#elif defined(__linux__)
    return std::make_unique<HidrawPlatform>();
#else
    return std::make_unique<NullHidPlatform>();
#endif
}

} // namespace vrax
