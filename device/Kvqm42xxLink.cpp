#include "Kvqm42xxLink.h"

#include "Chunking.h"
#include "HidDiscovery.h"

#include <algorithm>
#include <memory>

namespace vrax {

namespace {

constexpr int Kvqm42xxChunkSize = Kvqm42xxLink::Type.chunkSize;
constexpr std::uint32_t DataReadPauseMicroseconds = 500;

} // namespace

Kvqm42xxLink::Kvqm42xxLink(HidPlatform& platform, Clock& clock, LinkProgress& progress)
    : MouseLink(Kvqm42xxChunkSize, progress), platform_(platform), clock_(clock) {}

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
        KeepTransferError(platform_.LastTransferError());
    }
    return delivered;
}

bool Kvqm42xxLink::Get(HidHandle handle) {
    const bool delivered = platform_.GetFeature(handle, frame_.data(), featureReportLength_);
    if (!delivered) {
        KeepTransferError(platform_.LastTransferError());
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

bool Kvqm42xxLink::ReadChunk(std::uint8_t* chunk) {
    if (dataHandle_ == InvalidHandle) {
        return false;
    }
    frame_ = {DataReportId, 0, 0, 0, 0, 0, 0, 0};
    if (!Get(dataHandle_)) {
        return false;
    }
    std::copy(frame_.begin() + 1, frame_.end(), chunk);
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

// Address and length go high byte first.
bool Kvqm42xxLink::BeginRead(int address, int length) {
    if (dataHandle_ == InvalidHandle) {
        return false;
    }
    return SendCommand(CmdReadSetup, address / 256, address % 256, length / 256, length % 256);
}

bool Kvqm42xxLink::BeginWrite(int address, int length) {
    if (dataHandle_ == InvalidHandle) {
        return false;
    }
    return SendCommand(CmdWriteSetup, address / 256, address % 256, length / 256, length % 256);
}

void Kvqm42xxLink::DelayMicroseconds(std::uint32_t microseconds) {
    clock_.BusyWaitMicroseconds(microseconds);
}

std::unique_ptr<MouseLink> MakeKvqm42xxLink(HidPlatform& platform, Clock& clock,
                                            LinkProgress& progress) {
    return std::make_unique<Kvqm42xxLink>(platform, clock, progress);
}

} // namespace vrax
