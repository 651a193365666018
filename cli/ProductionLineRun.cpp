#include "cli/CommandLineProgram.h"
#include "cli/ProductionLine.h"

#include <csignal>

namespace vrax {

namespace {

extern "C" void StopTheLine(int) {
    ProductionLine::RequestStop();
}

} // namespace

CommandLineProgram::Outcome CommandLineProgram::RunLine() {
    // Ctrl+C lets the jobs in flight finish before the summary.
    std::signal(SIGINT, StopTheLine);
    std::signal(SIGTERM, StopTheLine);
    ProductionLine line(options_, *records_, log_, out_, err_);
    Outcome outcome;
    outcome.exitCode = line.Run();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return outcome;
}

} // namespace vrax
