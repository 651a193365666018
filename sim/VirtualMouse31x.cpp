#include "VirtualMouse31x.h"

#include <algorithm>

namespace vrax {

namespace {

constexpr std::uint8_t CmdBegin = 1;
constexpr std::uint8_t CmdEnd = 2;
constexpr std::uint8_t CmdStatus = 3;
constexpr std::uint8_t CmdReadSetup = 4;
constexpr std::uint8_t CmdReadNext = 5;
constexpr std::uint8_t CmdWriteSetup = 6;
constexpr std::uint8_t CmdWriteNext = 7;
constexpr std::uint8_t CmdFinish = 8;
constexpr int ChunkSize = 6;

} // namespace

bool VirtualMouse31x::SetFeature(int, const std::uint8_t* report, std::size_t length) {
    if (length != ReportLength || report[0] != ReportId) {
        return false;
    }
    std::copy_n(report, ReportLength, request_.begin());
    pending_ = true;
    busyPollsAnswered_ = 0;
    report_ = {ReportId};
    return true;
}

bool VirtualMouse31x::GetFeature(int, std::uint8_t* report, std::size_t length) {
    if (length != ReportLength || report[0] != ReportId) {
        return false;
    }
    if (faults_.silent) {
        std::fill_n(report, ReportLength, std::uint8_t{0});
        report[0] = ReportId;
        return true;
    }
    if (pending_) {
        if (busyPollsAnswered_ < faults_.busyPolls) {
            ++busyPollsAnswered_;
        } else {
            pending_ = false;
            Run();
        }
    }
    std::copy(report_.begin(), report_.end(), report);
    return true;
}

void VirtualMouse31x::Run() {
    const std::uint8_t command = request_[1];
    Report reply = request_;
    std::uint8_t status = StatusDone;
    const auto refuse = [&] { status = StatusRefused; };
    const int address = request_[2] | (request_[3] << 8);
    const int length = request_[4] | (request_[5] << 8);

    if (command == faults_.refusedCommand) {
        refuse();
    } else if (command == CmdBegin) {
        transactionOpen_ = true;
        transfer_ = {};
    } else if (command == CmdEnd) {
        transactionOpen_ = false;
        transfer_ = {};
    } else if (command == CmdFinish) {
        transfer_ = {};
    } else if (command == CmdStatus) {
        reply = {ReportId, faults_.unmarked ? std::uint8_t{0} : StatusMarker,
                 faults_.notReady ? std::uint8_t{0} : ReadyBit,
                 faults_.chipCode >= 0 ? static_cast<std::uint8_t>(faults_.chipCode)
                                       : DefaultChipCode};
    } else if (command == CmdReadSetup || command == CmdWriteSetup) {
        if (faults_.refuseSetup || !FitsInMemory(address, length)) {
            refuse();
        } else {
            transfer_ = {command == CmdReadSetup ? Transfer::Kind::Read : Transfer::Kind::Write,
                         address, length, 0};
        }
    } else if (command == CmdReadNext) {
        if (transfer_.kind != Transfer::Kind::Read || transfer_.remaining <= 0 ||
            transfer_.chunk == faults_.refusedReadChunk) {
            refuse();
        } else {
            Serve(transfer_, reply.data() + 1, ChunkSize);
        }
    } else if (command == CmdWriteNext) {
        if (transfer_.kind != Transfer::Kind::Write || transfer_.remaining <= 0 ||
            transfer_.chunk == faults_.refusedWriteChunk) {
            refuse();
        } else {
            Store(transfer_, request_.data() + 2, ChunkSize);
        }
    } else {
        refuse();
    }
    report_ = reply;
    report_[7] = status;
}

} // namespace vrax
