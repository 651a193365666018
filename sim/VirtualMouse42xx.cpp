#include "VirtualMouse42xx.h"

#include <algorithm>

namespace vrax {

namespace {

constexpr std::uint8_t WriteSetupCommand = 7;
constexpr std::uint8_t ReadSetupCommand = 9;
constexpr std::uint8_t ProbeCommand = 0x0D;
constexpr int ChunkBytes = 7;

} // namespace

bool VirtualMouse42xx::TakesData(int interfaceIndex) const {
    return !faults_.noData && interfaceIndex == (layout_ == Layout::OneInterface ? 0 : 1);
}

bool VirtualMouse42xx::DataReportRefused(bool reading) const {
    const int chunk = transfer_.chunk;
    return chunk == faults_.droppedDataReport ||
           chunk == (reading ? faults_.refusedReadChunk : faults_.refusedWriteChunk);
}

bool VirtualMouse42xx::SetFeature(int interfaceIndex, const std::uint8_t* report,
                                  std::size_t length) {
    if (length != ReportLength || faults_.silent) {
        return false;
    }
    if (report[0] == CommandReportId && TakesCommands(interfaceIndex)) {
        return RunCommand(report);
    }
    if (report[0] != DataReportId || !TakesData(interfaceIndex)) {
        return false;
    }
    // A data report outside an open write is taken and ignored.
    if (transfer_.kind == Transfer::Kind::Write) {
        if (DataReportRefused(false)) {
            return false;
        }
        Store(transfer_, report + 1, ChunkBytes);
    }
    return true;
}

bool VirtualMouse42xx::GetFeature(int interfaceIndex, std::uint8_t* report, std::size_t length) {
    if (length != ReportLength || faults_.silent || report[0] != DataReportId ||
        !TakesData(interfaceIndex)) {
        return false;
    }
    if (transfer_.kind == Transfer::Kind::Read) {
        if (DataReportRefused(true)) {
            return false;
        }
        Serve(transfer_, report + 1, ChunkBytes);
    } else {
        std::fill_n(report + 1, ChunkBytes, std::uint8_t{0});
    }
    return true;
}

bool VirtualMouse42xx::RunCommand(const std::uint8_t* report) {
    const std::uint8_t command = report[1];
    if (command == faults_.refusedCommand) {
        return false;
    }
    const int address = (report[2] << 8) | report[3];
    const int length = (report[4] << 8) | report[5];
    switch (command) {
    case ProbeCommand:
        if (faults_.refuseProbe) {
            return false;
        }
        transfer_ = {};
        return true;
    case ReadSetupCommand:
    case WriteSetupCommand:
        if (faults_.refuseSetup || !FitsInMemory(address, length)) {
            return false;
        }
        transfer_ = {command == ReadSetupCommand ? Transfer::Kind::Read : Transfer::Kind::Write,
                     address, length, 0};
        return true;
    default:
        return true;
    }
}

} // namespace vrax
