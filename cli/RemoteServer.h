#pragma once

#include "cli/CommandLineOptions.h"
#include "records/ProductionRecords.h"

#include <mutex>
#include <ostream>
#include <string>

namespace vrax {

// `serve`: the station without a window, driven by jigs over the --remote ports with the jig
// protocol, until Ctrl+C. A job in flight then ends as it would have.
class RemoteServer {
public:
    RemoteServer(const CommandLineOptions& options, ProductionRecords& records, std::ostream& out,
                 std::ostream& err);

    // 0 after a stop; 2 when the image or a port cannot be opened.
    int Run();

    // Safe from a signal handler.
    static void RequestStop();

private:
    void Say(const std::string& line);

    const CommandLineOptions& options_;
    ProductionRecords& records_;
    std::ostream& out_;
    std::ostream& err_;
    std::mutex outMutex_;
};

} // namespace vrax
