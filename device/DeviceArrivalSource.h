#pragma once

#include <functional>
#include <memory>

namespace vrax {

// The operating system's word that a HID device came or went, as a descriptor to wait on.
// It says nothing about which device: the polling tick still counts and decides.
class DeviceArrivalSource {
public:
    virtual ~DeviceArrivalSource() = default;

    // Readable when notifications are pending.
    virtual int Descriptor() const = 0;
    // Reads every pending notification; true when any was about a HID device.
    virtual bool TakeNotifications() = 0;
};

// Linux: a udev netlink monitor on the hidraw subsystem, libudev bound at run time. Null where
// the system offers none (no libudev, no udev daemon's socket, another platform).
std::unique_ptr<DeviceArrivalSource> MakeSystemDeviceArrivalSource();

// The same word where the system gives it as messages rather than a descriptor: `changed` runs
// on the watch's own thread for every arrival or removal, until the watch is destroyed.
class DeviceArrivalWatch {
public:
    virtual ~DeviceArrivalWatch() = default;
};

// Windows: a message-only window registered for the HID interface class. Null where the
// system offers none (another platform, or the registration refused).
std::unique_ptr<DeviceArrivalWatch> WatchSystemDeviceArrivals(std::function<void()> changed);

} // namespace vrax
