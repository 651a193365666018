#pragma once

#include "MouseLink.h"

#include <array>
#include <cstdint>
#include <string>

namespace vrax {

// The KVQM42xx/KVQM537 channel: command report 0x40 and data report 0x41 (7 data bytes),
// possibly on two interfaces; a report counts as done when the platform delivered it.
class Kvqm42xxLink final : public MouseLink {
public:
    static constexpr const MouseType& Type = FirstOfFamily(MouseFamily::Kvqm42xx);
    static constexpr std::uint8_t CommandReportId = Type.commandReportId;
    static constexpr std::uint8_t DataReportId = Type.dataReportId;
    static constexpr std::uint8_t CmdWriteSetup = 7;
    static constexpr std::uint8_t CmdReadSetup = 9;
    static constexpr std::uint8_t CmdProbe = 0x0D;

    using Frame = std::array<std::uint8_t, 8>;

    Kvqm42xxLink(HidPlatform& platform, Clock& clock, LinkProgress& progress);
    ~Kvqm42xxLink() override;

    // Any release number matches; ReleaseNumber() then tells the last match's.
    bool Open(int vendorId, int productId);
    bool OpenMouse(const MouseType&, int vendorId, int productId) override {
        return Open(vendorId, productId);
    }
    int ReleaseNumber() const { return releaseNumber_; }
    // Closes and drops both handles.
    void Forget() override;
    bool IsOpen() const override {
        return commandHandle_ != InvalidHandle || dataHandle_ != InvalidHandle;
    }
    HidHandle CommandHandle() const { return commandHandle_; }
    HidHandle DataHandle() const { return dataHandle_; }
    HidHandle DeviceHandle() const override { return commandHandle_; }

    bool SendCommand(int command, int p1 = 0, int p2 = 0, int p3 = 0, int p4 = 0);

    void DelayMicroseconds(std::uint32_t microseconds);

private:
    // A read or write whose data reports cannot travel fails before its setup is sent.
    bool BeginRead(int address, int length) override;
    bool BeginWrite(int address, int length) override;
    bool ReadChunk(std::uint8_t* chunk) override;
    bool WriteChunk(const std::uint8_t* chunk) override;
    bool Set(HidHandle handle);
    bool Get(HidHandle handle);
    // Closes a handle the link dropped unless it still serves as the other handle.
    void CloseIfUnused(HidHandle handle);

    HidPlatform& platform_;
    Clock& clock_;
    HidHandle commandHandle_ = InvalidHandle;
    HidHandle dataHandle_ = InvalidHandle;
    std::uint16_t featureReportLength_ = 0;
    int releaseNumber_ = 0;
    Frame frame_{};
};

} // namespace vrax
