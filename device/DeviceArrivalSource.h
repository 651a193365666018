#pragma once

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

} // namespace vrax
