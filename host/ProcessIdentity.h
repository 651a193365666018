#pragma once

#include <string>

namespace vrax {

// A running process as the records name the holder of a reservation: its machine, its
// number, and when it started (so that a later process given the same number is told apart).
struct ProcessIdentity {
    std::string host;
    long long process = 0;
    std::string start; // empty where the system does not tell
    // The station (its outbox) the process sends for; empty where the store has none.
    std::string station;
};

ProcessIdentity ThisProcess();

// Whether a process of this machine has ended. A process of another machine cannot be looked
// at from here and counts as running.
bool ProcessHasEnded(const ProcessIdentity& process);

} // namespace vrax
