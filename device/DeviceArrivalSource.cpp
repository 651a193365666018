#include "device/DeviceArrivalSource.h"

namespace vrax {

#ifndef __linux__
std::unique_ptr<DeviceArrivalSource> MakeSystemDeviceArrivalSource() {
    return nullptr;
}
#endif

#ifndef _WIN32
std::unique_ptr<DeviceArrivalWatch> WatchSystemDeviceArrivals(std::function<void()>) {
    return nullptr;
}
#endif

} // namespace vrax
