#include "HidDiscovery.h"

namespace vrax {

namespace {

constexpr std::uint16_t MouseFeatureReportLength = 8;

} // namespace

int CountHidDevices(HidPlatform& platform) {
    int count = 0;
    for (const std::string& path : platform.EnumerateInterfaces()) {
        if (platform.CanOpen(path)) {
            ++count;
        }
    }
    return count;
}

void ForEachFeatureInterface(HidPlatform& platform, int vendorId, int productId,
                             const std::function<bool(HidHandle, const HidAttributes&)>& take) {
    for (const std::string& path : platform.EnumerateInterfaces()) {
        if (!platform.MayBeDevice(path, vendorId, productId)) {
            continue;
        }
        HidHandle handle = platform.Open(path);
        if (handle == InvalidHandle) {
            handle = platform.Open(path);
        }
        if (handle == InvalidHandle) {
            continue;
        }
        HidAttributes attributes;
        bool kept = false;
        if (platform.GetAttributes(handle, attributes) &&
            platform.SelectFeatureCollection(handle, MouseFeatureReportLength)) {
            kept = take(handle, attributes);
        }
        if (!kept) {
            platform.Close(handle);
        }
    }
}

} // namespace vrax
