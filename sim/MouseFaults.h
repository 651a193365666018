#pragma once

#include "device/MouseTypes.h"

#include <span>
#include <string>
#include <string_view>

namespace vrax {

// Faults a virtual mouse can be given; each is read on every report, so it may change at any
// moment, also in the middle of a job. A fault list is written as comma-separated names:
//
//   silent                 answers nothing: KVQM31X status stays 0 and no command runs;
//                          KVQM42xx no report is delivered
//   not-ready              KVQM31X: status reply without the ready bit 0x04
//   unmarked               KVQM31X: status reply marker 0x00 instead of 0xAA
//   chip=XX                KVQM31X: status reply chip code XX (always hexadecimal)
//   busy=K                 KVQM31X: status 0 for the first K polls of every command, then done
//   refuse-command=C       command C answered with status 1 (KVQM42xx: not delivered)
//   refuse-setup           read and write setup answered with status 1 (KVQM42xx: not delivered)
//   refuse-read-chunk=N    data chunk N (from 0) of every read refused, every time
//   refuse-write-chunk=N   data chunk N (from 0) of every write refused, every time
//   corrupt=ADDR           the byte at ADDR reads back inverted; memory holds what was written
//   refuse-probe           KVQM42xx: probe command 0x0D not delivered
//   no-data                KVQM42xx: no interface takes or answers report 0x41
//   drop-data=N            KVQM42xx: data report N (from 0) of every read and write not delivered
//
// Numbers are decimal, or hexadecimal with a 0x prefix; example: "busy=3,corrupt=0x10".
struct MouseFaults {
    bool silent = false;
    bool notReady = false;
    bool unmarked = false;
    int chipCode = -1; // -1: the mouse's own
    int busyPolls = 0;
    int refusedCommand = -1;
    bool refuseSetup = false;
    int refusedReadChunk = -1;
    int refusedWriteChunk = -1;
    int corruptAddress = -1;
    bool refuseProbe = false;
    bool noData = false;
    int droppedDataReport = -1;

    bool operator==(const MouseFaults&) const = default;
    bool Any() const { return *this != MouseFaults{}; }
};

struct MouseFaultName {
    const char* name;
    const char* argument; // "" for a fault without a value
    bool kvqm31x;
    bool kvqm42xx;
    const char* meaning;
};

// Every fault name with the families it applies to, in the order of the list above.
std::span<const MouseFaultName> MouseFaultNames();

// Adds the faults of a list like "busy=3,corrupt=0x10" to faults. A name the family does not
// know, a missing or bad value, or an unknown name makes it return false with error naming
// the item; faults is then left as it was. An empty list is valid.
bool ParseMouseFaults(std::string_view text, MouseFamily family, MouseFaults& faults,
                      std::string& error);

// The list that ParseMouseFaults reads back into the same faults; empty when there are none.
std::string FormatMouseFaults(const MouseFaults& faults);

// "kvqm31x", "kvqm42xx" or "kvqm537" in any letter case.
bool ParseMouseFamily(std::string_view text, MouseFamily& family);

} // namespace vrax
