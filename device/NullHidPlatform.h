#pragma once

#include "HidPlatform.h"

namespace vrax {

// A platform without HID devices, for builds that have no backend for the machine.
class NullHidPlatform final : public HidPlatform {
public:
    std::vector<std::string> EnumerateInterfaces() override { return {}; }
    HidHandle Open(const std::string&) override { return InvalidHandle; }
    void Close(HidHandle) override {}
    bool GetAttributes(HidHandle, HidAttributes&) override { return false; }
    std::uint16_t GetFeatureReportLength(HidHandle) override { return 0; }
    bool SetFeature(HidHandle, const std::uint8_t*, std::size_t) override { return false; }
    bool GetFeature(HidHandle, std::uint8_t*, std::size_t) override { return false; }
};

} // namespace vrax
