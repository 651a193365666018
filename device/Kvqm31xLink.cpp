#include "Kvqm31xLink.h"

#include "Chunking.h"
#include "HidDiscovery.h"

#include <algorithm>
#include <memory>

namespace vrax {

namespace {

constexpr int ChunkSize = Kvqm31xLink::Type.chunkSize;
constexpr int Attempts = 5;
constexpr int PollsPerAttempt = 5;
constexpr std::uint8_t StatusNotReady = 0;
constexpr std::uint8_t StatusMarker = 0xAA;
constexpr std::uint8_t ReadyBit = 0x04;

bool IsKnownChip(std::uint8_t code) {
    return code == 0x35 || code == 0x75 || code == 0xFD;
}

} // namespace

Kvqm31xLink::Kvqm31xLink(HidPlatform& platform, Clock& clock, LinkProgress& progress)
    : MouseLink(ChunkSize, progress), platform_(platform), clock_(clock) {}

Kvqm31xLink::~Kvqm31xLink() {
    Forget();
}

bool Kvqm31xLink::Open(int vendorId, int productId, int releaseNumber) {
    bool found = false;
    ForEachFeatureInterface(
        platform_, vendorId, productId, [&](HidHandle handle, const HidAttributes& attributes) {
            if (attributes.productId != productId || attributes.vendorId != vendorId ||
                attributes.versionNumber != releaseNumber) {
                return false;
            }
            found = true;
            if (handle_ != InvalidHandle && handle_ != handle) {
                platform_.Close(handle_);
            }
            handle_ = handle;
            featureReportLength_ = 8;
            return true;
        });
    return found;
}

void Kvqm31xLink::Forget() {
    if (handle_ != InvalidHandle) {
        platform_.Close(handle_);
    }
    handle_ = InvalidHandle;
}

bool Kvqm31xLink::Exchange(const Frame& request, std::uint32_t firstWaitMs,
                           std::uint32_t pollWaitMs) {
    if (handle_ == InvalidHandle) {
        return false;
    }
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        frame_ = request;
        Set();
        clock_.SleepMilliseconds(firstWaitMs);
        for (int poll = 0; poll < PollsPerAttempt; ++poll) {
            // A get that fails must not leave the request's last data byte to pass for a status.
            std::fill(frame_.begin() + 1, frame_.end(), std::uint8_t{0});
            Get();
            if (frame_[7] != StatusNotReady) {
                break;
            }
            clock_.SleepMilliseconds(pollWaitMs);
        }
        if (frame_[7] == StatusDone) {
            break;
        }
    }
    return frame_[7] == StatusDone;
}

// The exchange judges the status byte alone; a failed transfer only leaves its reason.
bool Kvqm31xLink::Set() {
    const bool delivered = platform_.SetFeature(handle_, frame_.data(), featureReportLength_);
    if (!delivered) {
        KeepTransferError(platform_.LastTransferError());
    }
    return delivered;
}

bool Kvqm31xLink::Get() {
    const bool delivered = platform_.GetFeature(handle_, frame_.data(), featureReportLength_);
    if (!delivered) {
        KeepTransferError(platform_.LastTransferError());
    }
    return delivered;
}

bool Kvqm31xLink::SendCommand(int command, int p1, int p2, int p3, int p4) {
    return Exchange(
        {ReportId, LowByte(command), LowByte(p1), LowByte(p2), LowByte(p3), LowByte(p4), 0, 0}, 10,
        10);
}

bool Kvqm31xLink::ReadChunk(std::uint8_t* chunk) {
    if (handle_ == InvalidHandle) {
        return false;
    }
    if (!Exchange({ReportId, CmdReadNext, 0, 0, 0, 0, 0, 0}, 5, 5)) {
        return false;
    }
    std::copy(frame_.begin() + 1, frame_.end(), chunk);
    Progress().Idle();
    return true;
}

bool Kvqm31xLink::WriteChunk(const std::uint8_t* data) {
    return Exchange({ReportId, CmdWriteNext, data[0], data[1], data[2], data[3], data[4], data[5]},
                    10, 5);
}

// Address and length go low byte first.
bool Kvqm31xLink::BeginRead(int address, int length) {
    return SendCommand(CmdReadSetup, address % 256, address / 256, length % 256, length / 256);
}

bool Kvqm31xLink::BeginWrite(int address, int length) {
    return SendCommand(CmdWriteSetup, address % 256, address / 256, length % 256, length / 256);
}

MouseMatch Kvqm31xLink::Identify(const std::string& loadedTypeName) {
    if (!SendCommand(CmdBegin, 0, 0, 0, 0)) {
        return MouseMatch::NoAnswer;
    }
    if (!SendCommand(CmdStatus, 0, 0, 0, 0)) {
        return MouseMatch::NoAnswer;
    }
    const bool ready = (frame_[2] & ReadyBit) != 0;
    const bool recognised = IsKnownChip(frame_[3]);
    if (!recognised || loadedTypeName != Type.name) {
        return MouseMatch::Mismatch;
    }
    if (frame_[1] != StatusMarker) {
        return MouseMatch::Unmarked;
    }
    if (!ready) {
        return MouseMatch::NotReady;
    }
    return MouseMatch::Match;
}

void Kvqm31xLink::EndSession() {
    SendCommand(CmdFinish, 0, 0, 0, 0);
    SendCommand(CmdEnd, 0, 0, 0, 0);
}

std::string Kvqm31xLink::NoVerdictReason() const {
    if (frame_[7] == StatusDone) {
        return "No verdict: the mouse's status reply is unmarked (byte 1 is not AA)";
    }
    return NoAnswerReason;
}

std::unique_ptr<MouseLink> MakeKvqm31xLink(HidPlatform& platform, Clock& clock,
                                           LinkProgress& progress) {
    return std::make_unique<Kvqm31xLink>(platform, clock, progress);
}

} // namespace vrax
