#include "Kvqm31xLink.h"

#include "Chunking.h"
#include "HidDiscovery.h"

#include <algorithm>

namespace vrax {

namespace {

constexpr int ChunkSize = Kvqm31xLink::Type.chunkSize;
constexpr int Attempts = 5;
constexpr int PollsPerAttempt = 5;
constexpr std::uint8_t StatusNotReady = 0;

} // namespace

Kvqm31xLink::Kvqm31xLink(HidPlatform& platform, Clock& clock, LinkProgress& progress)
    : platform_(platform), clock_(clock), progress_(progress) {}

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
        lastTransferError_ = platform_.LastTransferError();
    }
    return delivered;
}

bool Kvqm31xLink::Get() {
    const bool delivered = platform_.GetFeature(handle_, frame_.data(), featureReportLength_);
    if (!delivered) {
        lastTransferError_ = platform_.LastTransferError();
    }
    return delivered;
}

bool Kvqm31xLink::SendCommand(int command, int p1, int p2, int p3, int p4) {
    return Exchange(
        {ReportId, LowByte(command), LowByte(p1), LowByte(p2), LowByte(p3), LowByte(p4), 0, 0}, 10,
        10);
}

bool Kvqm31xLink::ReadChunk() {
    chunk_.fill(0xFF);
    if (handle_ == InvalidHandle) {
        return false;
    }
    if (!Exchange({ReportId, CmdReadNext, 0, 0, 0, 0, 0, 0}, 5, 5)) {
        return false;
    }
    std::copy(frame_.begin() + 1, frame_.end(), chunk_.begin());
    progress_.Idle();
    return true;
}

bool Kvqm31xLink::WriteChunk(const std::uint8_t* data) {
    return Exchange({ReportId, CmdWriteNext, data[0], data[1], data[2], data[3], data[4], data[5]},
                    10, 5);
}

bool Kvqm31xLink::ReadMemory(int address, int length, std::uint8_t* destination,
                             int destinationSize) {
    if (destinationSize > 0) {
        std::fill_n(destination, destinationSize, std::uint8_t{0xFF});
    }
    if (!SendCommand(CmdReadSetup, address % 256, address / 256, length % 256, length / 256)) {
        return false;
    }
    const int chunks = ChunkCount(length, ChunkSize);
    for (int k = 0; k < chunks; ++k) {
        progress_.ChunkStarting(k, chunks);
        const bool delivered = ReadChunk();
        std::copy_n(chunk_.begin(), ChunkLength(k, length, ChunkSize), destination + ChunkSize * k);
        // A chunk that did not arrive leaves 0xFF in the destination; reporting success then
        // would let a verify or a saved file pass on bytes the mouse never sent.
        if (!delivered) {
            return false;
        }
        progress_.Idle();
    }
    return true;
}

bool Kvqm31xLink::WriteMemory(int address, int length, const std::uint8_t* source) {
    chunk_.fill(0xFF);
    if (!SendCommand(CmdWriteSetup, address % 256, address / 256, length % 256, length / 256)) {
        return false;
    }
    const int chunks = ChunkCount(length, ChunkSize);
    for (int k = 0; k < chunks; ++k) {
        progress_.ChunkStarting(k, chunks);
        std::copy_n(source + ChunkSize * k, ChunkLength(k, length, ChunkSize), chunk_.begin());
        progress_.Idle();
        if (!WriteChunk(chunk_.data())) {
            return false;
        }
    }
    return true;
}

} // namespace vrax
