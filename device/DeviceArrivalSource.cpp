#include "device/DeviceArrivalSource.h"

namespace vrax {

#ifndef __linux__
std::unique_ptr<DeviceArrivalSource> MakeSystemDeviceArrivalSource() {
    return nullptr;
}
#endif

} // namespace vrax
