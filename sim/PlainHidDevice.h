#pragma once

#include "VirtualHidDevice.h"

namespace vrax {

// An ordinary HID device (a keyboard, another vendor's mouse): present and openable, so it
// counts, but it takes and answers no feature report.
class PlainHidDevice final : public VirtualHidDevice {
public:
    static constexpr HidAttributes KeyboardAttributes{0x1C4F, 0x0002, 0x0110};

    explicit PlainHidDevice(HidAttributes attributes = KeyboardAttributes, int interfaceCount = 2,
                            std::uint16_t featureReportLength = 0)
        : attributes_(attributes), interfaceCount_(interfaceCount),
          featureReportLength_(featureReportLength) {}

    int InterfaceCount() const override { return interfaceCount_; }
    HidAttributes Attributes() const override { return attributes_; }
    std::uint16_t FeatureReportLength(int) const override { return featureReportLength_; }
    bool SetFeature(int, const std::uint8_t*, std::size_t) override { return false; }
    bool GetFeature(int, std::uint8_t*, std::size_t) override { return false; }

private:
    HidAttributes attributes_;
    int interfaceCount_;
    std::uint16_t featureReportLength_;
};

} // namespace vrax
