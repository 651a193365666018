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

// The KVQM31X channel: one 8-byte feature report with ID 4, completion signalled by
// status 204 in byte 7, 6 data bytes per report.
class Kvqm31xLink final : public MemoryLink {
public:
    static constexpr const MouseType& Type = FirstOfFamily(MouseFamily::Kvqm31x);
    static constexpr std::uint8_t ReportId = Type.commandReportId;
    static constexpr std::uint8_t CmdBegin = 1;
    static constexpr std::uint8_t CmdEnd = 2;
    static constexpr std::uint8_t CmdStatus = 3;
    static constexpr std::uint8_t CmdReadSetup = 4;
    static constexpr std::uint8_t CmdReadNext = 5;
    static constexpr std::uint8_t CmdWriteSetup = 6;
    static constexpr std::uint8_t CmdWriteNext = 7;
    static constexpr std::uint8_t CmdFinish = 8;
    static constexpr std::uint8_t StatusDone = 204;

    using Frame = std::array<std::uint8_t, 8>;

    Kvqm31xLink(HidPlatform& platform, Clock& clock, LinkProgress& progress);
    ~Kvqm31xLink() override;
    Kvqm31xLink(const Kvqm31xLink&) = delete;
    Kvqm31xLink& operator=(const Kvqm31xLink&) = delete;

    // Walks every interface; the last one matching vendor, product, release number and a
    // feature report length of 8 becomes the link's device.
    bool Open(int vendorId, int productId, int releaseNumber);
    // Closes and drops the device handle.
    void Forget();
    bool IsOpen() const { return handle_ != InvalidHandle; }
    HidHandle Handle() const { return handle_; }

    // True when the device reported status 204.
    bool SendCommand(int command, int p1 = 0, int p2 = 0, int p3 = 0, int p4 = 0);
    const Frame& LastReply() const { return frame_; }

    // The platform's reason for the last transfer that failed since the last clear; empty when
    // none failed or the platform knows no reason.
    const std::string& LastTransferError() const { return lastTransferError_; }
    void ClearTransferError() { lastTransferError_.clear(); }

    bool ReadMemory(int address, int length, std::uint8_t* destination,
                    int destinationSize) override;
    bool WriteMemory(int address, int length, const std::uint8_t* source) override;

private:
    bool Exchange(const Frame& request, std::uint32_t firstWaitMs, std::uint32_t pollWaitMs);
    bool ReadChunk();
    bool WriteChunk(const std::uint8_t* data);
    bool Set();
    bool Get();

    HidPlatform& platform_;
    Clock& clock_;
    LinkProgress& progress_;
    HidHandle handle_ = InvalidHandle;
    std::uint16_t featureReportLength_ = 0;
    Frame frame_{};
    std::string lastTransferError_;
    std::array<std::uint8_t, 7> chunk_{};
};

} // namespace vrax
