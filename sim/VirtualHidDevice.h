#pragma once

#include "device/HidPlatform.h"

#include <cstddef>
#include <cstdint>

namespace vrax {

// The device side of a HID device: what a bus, or a stand-in for the platform's HID library,
// needs from a device model. Models know nothing of handles, paths or clocks. Reports carry
// the report ID in byte 0; a call that returns false leaves the buffer as it was.
class VirtualHidDevice {
public:
    virtual ~VirtualHidDevice() = default;

    virtual int InterfaceCount() const { return 1; }
    // Shared by all interfaces, as on a composite USB device.
    virtual HidAttributes Attributes() const = 0;
    virtual std::uint16_t FeatureReportLength(int interfaceIndex) const = 0;

    // False when the report is not delivered.
    virtual bool SetFeature(int interfaceIndex, const std::uint8_t* report, std::size_t length) = 0;
    virtual bool GetFeature(int interfaceIndex, std::uint8_t* report, std::size_t length) = 0;
};

} // namespace vrax
