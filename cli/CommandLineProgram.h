#pragma once

#include "cli/CommandLineOptions.h"
#include "cli/ProgressBar.h"
#include "cli/SimulatedMouse.h"
#include "device/Clock.h"
#include "device/HidPlatform.h"
#include "records/ProductionRecords.h"

#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vrax {

class CommandLineView;
class JobEvents;
class ProductionLog;
class RememberingHidPlatform;
class Station;

enum ExitCode : int {
    ExitPass = 0,
    ExitFailed = 1, // any other outcome on a found mouse
    ExitBadInput = 2,
    ExitNoMouse = 3,
    // A line ended with records kept on this PC, not yet in the line database.
    ExitRecordsWaiting = 4,
};

// One run of the command line: the options' station on real or virtual mice, the operation
// through the same functions the window calls, then the verdict, the dump and the log line.
class CommandLineProgram {
public:
    CommandLineProgram(const CommandLineOptions& options, std::ostream& out, std::ostream& err,
                       bool progressBar);

    int Run();

private:
    struct Outcome {
        int exitCode = ExitFailed;
        std::vector<std::string> lines; // standard output
        std::string error;              // standard error
        std::string verdict;            // the log's verdict; the last line when empty
        std::string serialNumber;
        bool reported = false; // as --json's end of a job
    };

    Outcome Execute();
    Outcome List(Station& station, HidPlatform& platform);
    bool OpenMouse(Station& station, HidPlatform& platform);
    // Loads the image file as the window's Load BIN does; the refusal's outcome when it fails.
    std::optional<Outcome> LoadImage(Station& station, CommandLineView& view);
    Outcome RunOperation(Station& station, CommandLineView& view,
                         const RememberingHidPlatform& devices);
    Outcome ShowRecords();
    Outcome RunLine();
    Outcome Approve();
    void StartProgress();
    static Outcome BadInput(const std::string& message);

    CommandLineOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<SimulatedMouse> simulated_;
    std::unique_ptr<HidPlatform> hardware_;
    std::ofstream trace_;
    ProgressBar progress_;
    std::unique_ptr<JobEvents> events_; // --json
    std::unique_ptr<ProductionRecords> records_;
    ProductionLog* log_ = nullptr;
    std::string imageFile_; // as the records keep it
};

// The program's whole life: parse, run, report. Returns the exit code.
int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   bool progressBar);

} // namespace vrax
