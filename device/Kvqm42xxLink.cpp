#include "Kvqm42xxLink.h"

#include "Chunking.h"
#include "HidDiscovery.h"

#include <algorithm>

namespace vrax {

namespace {

constexpr int Kvqm42xxChunkSize = Kvqm42xxLink::Type.chunkSize;
constexpr std::uint32_t DataReadPauseMicroseconds = 500;

} // namespace

Kvqm42xxLink::Kvqm42xxLink(HidPlatform& platform, Clock& clock, LinkProgress& progress)
    : platform_(platform), clock_(clock), progress_(progress) {}

Kvqm42xxLink::~Kvqm42xxLink() {
    Forget();
}

bool Kvqm42xxLink::Open(int vendorId, int productId) {
    bool found = false;
    ForEachFeatureInterface(
        platform_, vendorId, productId, [&](HidHandle handle, const HidAttributes& attributes) {
            if (attributes.productId != productId || attributes.vendorId != vendorId) {
                return false;
            }
            found = true;
            releaseNumber_ = attributes.versionNumber;
            featureReportLength_ = 8;
            bool kept = false;
            frame_ = {CommandReportId, CmdProbe, 0, 0, 0, 0, 0, 0};
            if (platform_.SetFeature(handle, frame_.data(), featureReportLength_)) {
                const HidHandle replaced = commandHandle_;
                commandHandle_ = handle;
                CloseIfUnused(replaced);
                kept = true;
            }
            frame_ = {DataReportId, 0, 0, 0, 0, 0, 0, 0};
            if (platform_.GetFeature(handle, frame_.data(), featureReportLength_)) {
                const HidHandle replaced = dataHandle_;
                dataHandle_ = handle;
                CloseIfUnused(replaced);
                kept = true;
            }
            return kept;
        });
    return found;
}

void Kvqm42xxLink::CloseIfUnused(HidHandle handle) {
    if (handle != InvalidHandle && handle != commandHandle_ && handle != dataHandle_) {
        platform_.Close(handle);
    }
}

void Kvqm42xxLink::Forget() {
    const HidHandle command = commandHandle_;
    const HidHandle data = dataHandle_;
    commandHandle_ = InvalidHandle;
    dataHandle_ = InvalidHandle;
    CloseIfUnused(command);
    if (data != command) {
        CloseIfUnused(data);
    }
}

bool Kvqm42xxLink::Set(HidHandle handle) {
    const bool delivered = platform_.SetFeature(handle, frame_.data(), featureReportLength_);
    if (!delivered) {
        lastTransferError_ = platform_.LastTransferError();
    }
    return delivered;
}

bool Kvqm42xxLink::Get(HidHandle handle) {
    const bool delivered = platform_.GetFeature(handle, frame_.data(), featureReportLength_);
    if (!delivered) {
        lastTransferError_ = platform_.LastTransferError();
    }
    return delivered;
}

bool Kvqm42xxLink::SendCommand(int command, int p1, int p2, int p3, int p4) {
    if (commandHandle_ == InvalidHandle) {
        return false;
    }
    frame_ = {CommandReportId, LowByte(command), LowByte(p1), LowByte(p2),
              LowByte(p3),     LowByte(p4),      0,           0};
    return Set(commandHandle_);
}

bool Kvqm42xxLink::ReadChunk() {
    chunk_.fill(0xFF);
    if (dataHandle_ == InvalidHandle) {
        return false;
    }
    frame_ = {DataReportId, 0, 0, 0, 0, 0, 0, 0};
    if (!Get(dataHandle_)) {
        return false;
    }
    std::copy(frame_.begin() + 1, frame_.end(), chunk_.begin());
    DelayMicroseconds(DataReadPauseMicroseconds);
    return true;
}

bool Kvqm42xxLink::WriteChunk(const std::uint8_t* data) {
    if (dataHandle_ == InvalidHandle) {
        return false;
    }
    frame_ = {DataReportId, data[0], data[1], data[2], data[3], data[4], data[5], data[6]};
    return Set(dataHandle_);
}

// A read or write whose data reports cannot travel fails before the setup is sent, and stops
// at the first data report that is not delivered: the image would otherwise pass as written or
// read while the mouse never saw or sent those bytes.
bool Kvqm42xxLink::ReadMemory(int address, int length, std::uint8_t* destination,
                              int destinationSize) {
    if (destinationSize > 0) {
        std::fill_n(destination, destinationSize, std::uint8_t{0xFF});
    }
    chunk_.fill(0xFF);
    if (dataHandle_ == InvalidHandle) {
        return false;
    }
    if (!SendCommand(CmdReadSetup, address / 256, address % 256, length / 256, length % 256)) {
        return false;
    }
    const int chunks = ChunkCount(length, Kvqm42xxChunkSize);
    for (int k = 0; k < chunks; ++k) {
        progress_.ChunkStarting(k, chunks);
        const bool delivered = ReadChunk();
        std::copy_n(chunk_.begin(), ChunkLength(k, length, Kvqm42xxChunkSize),
                    destination + Kvqm42xxChunkSize * k);
        if (!delivered) {
            return false;
        }
    }
    return true;
}

bool Kvqm42xxLink::WriteMemory(int address, int length, const std::uint8_t* source) {
    chunk_.fill(0xFF);
    if (dataHandle_ == InvalidHandle) {
        return false;
    }
    if (!SendCommand(CmdWriteSetup, address / 256, address % 256, length / 256, length % 256)) {
        return false;
    }
    const int chunks = ChunkCount(length, Kvqm42xxChunkSize);
    for (int k = 0; k < chunks; ++k) {
        progress_.ChunkStarting(k, chunks);
        std::copy_n(source + Kvqm42xxChunkSize * k, ChunkLength(k, length, Kvqm42xxChunkSize),
                    chunk_.begin());
        if (!WriteChunk(chunk_.data())) {
            return false;
        }
    }
    return true;
}

void Kvqm42xxLink::DelayMicroseconds(std::uint32_t microseconds) {
    clock_.BusyWaitMicroseconds(microseconds);
}

} // namespace vrax
