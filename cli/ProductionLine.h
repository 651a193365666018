#pragma once

#include "cli/CommandLineOptions.h"
#include "records/ProductionRecords.h"

#include <atomic>
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace vrax {

class JobEvents;
class ProductionLog;

// The window's production cycle without a window: waits for mice, writes each newly arrived
// matching one with the image (up to the gang's count at once, each on its own thread with
// its own station, clock and handles), records it, prints one line per mouse and goes on
// until stopped, the virtual mice run out or the verdicts reach --max-mice (with --json, as
// JSON objects instead).
class ProductionLine {
public:
    ProductionLine(const CommandLineOptions& options, ProductionRecords& records,
                   ProductionLog* log, JobEvents* events, std::ostream& out, std::ostream& err);

    // The exit code: 0 when every mouse passed, 1 when any did not, 2 for bad input or a
    // records failure, 4 when records still wait in the outbox at the end.
    int Run();

    // Safe from a signal handler: the jobs in flight finish, no new one starts.
    static void RequestStop();

private:
    struct Tally;
    struct Arrival {
        std::string key;
        std::vector<std::string> paths;
        int simulatedDevice = 0; // the bus's id of a virtual mouse; 0 on real devices
        std::chrono::steady_clock::time_point grown; // when its last interface was seen
    };
    void Program(const Arrival& arrival, Tally& tally);

    const CommandLineOptions& options_;
    ProductionRecords& records_;
    ProductionLog* log_;
    JobEvents* events_; // --json: these instead of the lines on standard output
    std::ostream& out_;
    std::ostream& err_;
};

// The part of an interface path that its siblings of the same USB device share.
std::string DeviceKeyOfPath(const std::string& path);

} // namespace vrax
