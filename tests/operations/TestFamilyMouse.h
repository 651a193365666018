#pragma once

#include "TestFamilyLink.h"
#include "sim/VirtualHidDevice.h"

#include <algorithm>
#include <array>

namespace vrax::testing {

// The device side of TestFamilyLink's protocol: 2048 bytes behind one interface.
class TestFamilyMouse final : public VirtualHidDevice {
public:
    static constexpr HidAttributes Ids{0x1209, 0x7E57, 0x0001};

    std::array<std::uint8_t, 2048> memory{};
    int dataReports = 0;
    int sessionsEnded = 0;

    HidAttributes Attributes() const override { return Ids; }
    std::uint16_t FeatureReportLength(int) const override { return 8; }

    bool SetFeature(int, const std::uint8_t* report, std::size_t length) override {
        if (length != 8) {
            return false;
        }
        if (report[0] == TestFamilyLink::CommandReportId) {
            command_ = static_cast<char>(report[1]);
            position_ = report[2] * 256 + report[3];
            end_ = position_ + report[4] * 256 + report[5];
            sessionsEnded += command_ == 'E' ? 1 : 0;
            return end_ <= static_cast<int>(memory.size());
        }
        if (report[0] != TestFamilyLink::DataReportId || command_ != 'W') {
            return false;
        }
        ++dataReports;
        for (int i = 1; i <= TestFamilyLink::ChunkSize && position_ < end_; ++i) {
            memory[static_cast<std::size_t>(position_++)] = report[i];
        }
        return true;
    }

    bool GetFeature(int, std::uint8_t* report, std::size_t length) override {
        if (length != 8) {
            return false;
        }
        if (report[0] == TestFamilyLink::IdentityReportId) {
            report[1] = TestFamilyLink::ChipCode;
            return true;
        }
        if (report[0] != TestFamilyLink::DataReportId || command_ != 'R') {
            return false;
        }
        ++dataReports;
        for (int i = 1; i <= TestFamilyLink::ChunkSize; ++i) {
            report[i] = position_ < end_ ? memory[static_cast<std::size_t>(position_++)] : 0xFF;
        }
        return true;
    }

private:
    char command_ = 0;
    int position_ = 0;
    int end_ = 0;
};

} // namespace vrax::testing
