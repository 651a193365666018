#include "ProtocolFloor.h"

#include "device/Kvqm31xLink.h"
#include "device/Kvqm42xxLink.h"

namespace vrax {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// Each exchange of the KVQM31X channel has its own pair of waits.
struct ExchangeWaits {
    microseconds first;
    microseconds poll;
};

ExchangeWaits WaitsOf(std::uint8_t command) {
    switch (command) {
    case Kvqm31xLink::CmdReadNext:
        return {milliseconds(5), milliseconds(5)};
    case Kvqm31xLink::CmdWriteNext:
        return {milliseconds(10), milliseconds(5)};
    default:
        return {milliseconds(10), milliseconds(10)};
    }
}

} // namespace

ProtocolFloor ProtocolFloorOf(const std::vector<HidTraceEntry>& trace) {
    ProtocolFloor floor;
    ExchangeWaits current = WaitsOf(0);
    for (const HidTraceEntry& entry : trace) {
        ++floor.transfers;
        if (entry.bytes.size() < 8) {
            continue;
        }
        const bool set = entry.direction == HidTraceEntry::Direction::Set;
        switch (entry.bytes[0]) {
        case Kvqm31xLink::ReportId:
            if (set) {
                current = WaitsOf(entry.bytes[1]);
                floor.sleeps += current.first;
            } else if (entry.bytes[7] == 0) {
                floor.sleeps += current.poll;
            }
            break;
        case Kvqm42xxLink::DataReportId:
            if (!set && entry.ok) {
                floor.busyWaits += microseconds(500);
            }
            break;
        default:
            break;
        }
    }
    return floor;
}

} // namespace vrax
