#pragma once

#include "MouseLink.h"

#include <array>
#include <cstdint>
#include <string>

namespace vrax {

// The KVQM31X channel: one 8-byte feature report with ID 4, completion signalled by
// status 204 in byte 7, 6 data bytes per report.
class Kvqm31xLink final : public MouseLink {
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

    // Walks every interface; the last one matching vendor, product, release number and a
    // feature report length of 8 becomes the link's device.
    bool Open(int vendorId, int productId, int releaseNumber);
    bool OpenMouse(const MouseType& type, int vendorId, int productId) override {
        return Open(vendorId, productId, type.releaseNumber);
    }
    void Forget() override;
    bool IsOpen() const override { return handle_ != InvalidHandle; }
    HidHandle Handle() const { return handle_; }
    HidHandle DeviceHandle() const override { return handle_; }

    // Opens the command sequence (CmdBegin, CmdStatus) and classifies the status reply against
    // the type the image was loaded for.
    MouseMatch Identify(const std::string& loadedTypeName) override;
    // CmdFinish, CmdEnd.
    void EndSession() override;
    // A status reply that said done yet showed no verdict was unmarked.
    std::string NoVerdictReason() const override;

    // True when the device reported status 204.
    bool SendCommand(int command, int p1 = 0, int p2 = 0, int p3 = 0, int p4 = 0);
    const Frame& LastReply() const { return frame_; }

private:
    bool BeginRead(int address, int length) override;
    bool BeginWrite(int address, int length) override;
    bool ReadChunk(std::uint8_t* chunk) override;
    bool WriteChunk(const std::uint8_t* chunk) override;
    // The window gets a turn between chunks.
    void ChunkPlaced() override { Progress().Idle(); }

    bool Exchange(const Frame& request, std::uint32_t firstWaitMs, std::uint32_t pollWaitMs);
    bool Set();
    bool Get();

    HidPlatform& platform_;
    Clock& clock_;
    HidHandle handle_ = InvalidHandle;
    std::uint16_t featureReportLength_ = 0;
    Frame frame_{};
};

} // namespace vrax
