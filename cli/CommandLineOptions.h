#pragma once

#include "programming/StationSettings.h"
#include "sim/MouseFaults.h"

#include <optional>
#include <string>
#include <vector>

namespace vrax {

// Approve is "records approve IMAGE.bin": it changes the records, which the reports never do.
enum class Command { Help, List, Write, Verify, Read, FactoryRead, Records, Line, Approve, Serve };

// What the records command prints.
enum class RecordsReport {
    Table,
    Csv,
    Summary,
    Duplicates,
    Approvals,
    ApprovalsCsv,
    LinePage,
    AcknowledgeRestore,
};

// One virtual mouse on the simulated bus instead of the machine's devices.
struct SimulatedMouseOptions {
    MouseFamily family = MouseFamily::Kvqm31x;
    int icType = IcTypeKvqm31x; // the type whose default IDs the mouse carries
    MouseFaults faults;
    std::string memoryPath;
    std::string dumpPath;
    bool realTime = false;
};

struct CommandLineOptions {
    Command command = Command::Help;
    // The image of write and verify, the output of read.
    std::string path;
    // The window's settings as the options set them; icType, the data format and Write
    // Product ID included.
    PlainSettings settings;
    int vendorId = 0;
    int productId = 0;
    std::optional<SimulatedMouseOptions> simulation;
    std::string tracePath;
    std::string logPath;
    // --records: empty for the default file, "none", or a file.
    std::string recordsChoice;
    // --json: the jobs as JSON lines on standard output instead of the verdict lines.
    bool json = false;

    // records
    RecordsReport report = RecordsReport::Table;
    std::string reportPath; // --report: the line report's HTML file
    std::string since;
    std::optional<int> serialFilter;
    // records approve (needed) and records approvals (a filter)
    std::optional<int> productType;

    // line
    bool serialFromRecords = false; // --serial next
    std::optional<int> serialStart;
    int gang = 1;
    std::optional<long> maxMice;
    int simulatedMice = 0;
    int simulatedFaultyEvery = 1; // the --sim faults go to every Kth virtual mouse

    // serve: where jigs reach the station ("tcp:127.0.0.1:4000", "serial:/dev/ttyUSB0,115200")
    // and the folder #LOAD takes images from
    std::vector<std::string> remotes;
    std::string imageFolder;
    // Address ranges TCP jigs may come from besides this PC; how long a silent one is kept.
    std::vector<std::string> remoteAllowed;
    std::optional<int> remoteIdleSeconds;
};

// Reads the arguments after the program name; options may come before or after the command.
// Throws UsageError (or ConversionError for a range that does not convert).
CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments);

const char* CommandName(Command command);

} // namespace vrax
