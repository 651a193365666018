#pragma once

#include "Clock.h"
#include "HidPlatform.h"
#include "LinkProgress.h"
#include "MemoryLink.h"
#include "MouseTypes.h"

#include <array>
#include <cstdint>
#include <string>

namespace vrax {

// The KVQM42xx/KVQM537 channel: command report 0x40 and data report 0x41 (7 data bytes),
// possibly on two interfaces; a report counts as done when the platform delivered it.
class Kvqm42xxLink final : public MemoryLink {
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
    Kvqm42xxLink(const Kvqm42xxLink&) = delete;
    Kvqm42xxLink& operator=(const Kvqm42xxLink&) = delete;

    // Any release number matches; ReleaseNumber() then tells the last match's.
    bool Open(int vendorId, int productId);
    int ReleaseNumber() const { return releaseNumber_; }
    // Closes and drops both handles.
    void Forget();
    bool IsOpen() const { return commandHandle_ != InvalidHandle || dataHandle_ != InvalidHandle; }
    HidHandle CommandHandle() const { return commandHandle_; }
    HidHandle DataHandle() const { return dataHandle_; }

    bool SendCommand(int command, int p1 = 0, int p2 = 0, int p3 = 0, int p4 = 0);

    // The platform's reason for the last transfer that failed since the last clear; empty when
    // none failed or the platform knows no reason.
    const std::string& LastTransferError() const { return lastTransferError_; }
    void ClearTransferError() { lastTransferError_.clear(); }

    bool ReadMemory(int address, int length, std::uint8_t* destination,
                    int destinationSize) override;
    bool WriteMemory(int address, int length, const std::uint8_t* source) override;

    void DelayMicroseconds(std::uint32_t microseconds);

private:
    bool ReadChunk();
    bool WriteChunk(const std::uint8_t* data);
    bool Set(HidHandle handle);
    bool Get(HidHandle handle);
    // Closes a handle the link dropped unless it still serves as the other handle.
    void CloseIfUnused(HidHandle handle);

    HidPlatform& platform_;
    Clock& clock_;
    LinkProgress& progress_;
    HidHandle commandHandle_ = InvalidHandle;
    HidHandle dataHandle_ = InvalidHandle;
    std::uint16_t featureReportLength_ = 0;
    int releaseNumber_ = 0;
    Frame frame_{};
    std::string lastTransferError_;
    std::array<std::uint8_t, 7> chunk_{};
};

} // namespace vrax
