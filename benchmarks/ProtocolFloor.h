#pragma once

#include "sim/HidTraceEntry.h"

#include <chrono>
#include <vector>

namespace vrax {

// The least time a sequence of transfers may take: the waits the links must make for exactly
// these transfers. Anything a job takes beyond it is computing, pumping and oversleeping.
struct ProtocolFloor {
    // KVQM31X: the wait after every set, and after every poll that found the status still 0.
    std::chrono::microseconds sleeps{0};
    // KVQM42xx/KVQM537: the 500 microseconds after every data report read.
    std::chrono::microseconds busyWaits{0};
    int transfers = 0;

    std::chrono::microseconds Total() const { return sleeps + busyWaits; }
};

ProtocolFloor ProtocolFloorOf(const std::vector<HidTraceEntry>& trace);

} // namespace vrax
