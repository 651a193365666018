#pragma once

#include "device/HidDiscovery.h"
#include "device/MouseLink.h"

#include <algorithm>
#include <array>
#include <memory>

namespace vrax::testing {

// The link of a fictional IC family, to show what a new family brings: command report 0x20
// (write setup 'W', read setup 'R', end 'E', address and length high byte first), data report
// 0x21 with 4 bytes, and an identity report 0x22 that names the chip.
class TestFamilyLink final : public MouseLink {
public:
    static constexpr std::uint8_t CommandReportId = 0x20;
    static constexpr std::uint8_t DataReportId = 0x21;
    static constexpr std::uint8_t IdentityReportId = 0x22;
    static constexpr std::uint8_t ChipCode = 0x9A;
    static constexpr int ChunkSize = 4;

    TestFamilyLink(HidPlatform& platform, LinkProgress& progress)
        : MouseLink(ChunkSize, progress), platform_(platform) {}
    ~TestFamilyLink() override { Forget(); }

    static std::unique_ptr<MouseLink> Make(HidPlatform& platform, Clock&, LinkProgress& progress) {
        return std::make_unique<TestFamilyLink>(platform, progress);
    }

    bool OpenMouse(const MouseType&, int vendorId, int productId) override {
        bool found = false;
        ForEachFeatureInterface(platform_, vendorId, productId,
                                [&](HidHandle handle, const HidAttributes&) {
                                    Forget();
                                    handle_ = handle;
                                    found = true;
                                    return true;
                                });
        return found;
    }
    void Forget() override {
        if (handle_ != InvalidHandle) {
            platform_.Close(handle_);
        }
        handle_ = InvalidHandle;
    }
    bool IsOpen() const override { return handle_ != InvalidHandle; }
    HidHandle DeviceHandle() const override { return handle_; }

    MouseMatch Identify(const std::string& loadedTypeName) override {
        std::array<std::uint8_t, 8> report{IdentityReportId};
        if (!Transfer(&HidPlatform::GetFeature, report)) {
            return MouseMatch::NoAnswer;
        }
        return report[1] == ChipCode && loadedTypeName == "TESTIC9" ? MouseMatch::Match
                                                                    : MouseMatch::Mismatch;
    }
    void EndSession() override { Command('E', 0, 0); }

private:
    bool BeginRead(int address, int length) override { return Command('R', address, length); }
    bool BeginWrite(int address, int length) override { return Command('W', address, length); }
    bool ReadChunk(std::uint8_t* chunk) override {
        std::array<std::uint8_t, 8> report{DataReportId};
        if (!Transfer(&HidPlatform::GetFeature, report)) {
            return false;
        }
        std::copy_n(report.begin() + 1, ChunkSize, chunk);
        return true;
    }
    bool WriteChunk(const std::uint8_t* chunk) override {
        std::array<std::uint8_t, 8> report{DataReportId};
        std::copy_n(chunk, ChunkSize, report.begin() + 1);
        return Transfer(&HidPlatform::SetFeature, report);
    }

    bool Command(char command, int address, int length) {
        std::array<std::uint8_t, 8> report{CommandReportId,
                                           static_cast<std::uint8_t>(command),
                                           static_cast<std::uint8_t>(address >> 8),
                                           static_cast<std::uint8_t>(address),
                                           static_cast<std::uint8_t>(length >> 8),
                                           static_cast<std::uint8_t>(length)};
        return Transfer(&HidPlatform::SetFeature, report);
    }
    template <typename Call> bool Transfer(Call call, std::array<std::uint8_t, 8>& report) {
        const bool delivered = (platform_.*call)(handle_, report.data(), report.size());
        if (!delivered) {
            KeepTransferError(platform_.LastTransferError());
        }
        return delivered;
    }

    HidPlatform& platform_;
    HidHandle handle_ = InvalidHandle;
};

} // namespace vrax::testing
