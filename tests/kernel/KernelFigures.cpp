#include "tests/kernel/KernelFigures.h"

#include "benchmarks/ProtocolFloor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace vrax::testing {

void ReportFigure(const std::string& line) {
    if (const char* figures = std::getenv("VRAX_KERNEL_FIGURES")) {
        std::ofstream(figures, std::ios::app) << line << '\n';
    }
}

std::string FormatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

namespace {

std::vector<HidTraceEntry> ReadTrace(const std::string& tracePath) {
    std::vector<HidTraceEntry> trace;
    std::ifstream file(tracePath);
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        double milliseconds = 0;
        std::string direction, word;
        fields >> milliseconds >> direction;
        HidTraceEntry entry;
        entry.time = std::chrono::microseconds(static_cast<long long>(milliseconds * 1000));
        entry.direction =
            direction == "set" ? HidTraceEntry::Direction::Set : HidTraceEntry::Direction::Get;
        while (fields >> word && word != "ok" && word != "fail") {
            entry.bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
        }
        entry.ok = word == "ok";
        trace.push_back(std::move(entry));
    }
    return trace;
}

} // namespace

std::string TransferFigure(const std::string& tracePath) {
    const std::vector<HidTraceEntry> trace = ReadTrace(tracePath);
    if (trace.size() < 2) {
        return "no trace";
    }
    const ProtocolFloor floor = ProtocolFloorOf(trace);
    const double span =
        std::chrono::duration<double>(trace.back().time - trace.front().time).count();
    const double waits = std::chrono::duration<double>(floor.Total()).count();
    char text[160];
    std::snprintf(text, sizeof text,
                  "%d transfers in %.2f s, of which %.2f s the protocol's waits: %.2f ms per "
                  "transfer",
                  floor.transfers, span, waits, (span - waits) * 1e3 / floor.transfers);
    return text;
}

double SecondsAfterTheLastDeliveredTransfer(const std::string& tracePath) {
    const std::vector<HidTraceEntry> trace = ReadTrace(tracePath);
    auto last = std::find_if(trace.rbegin(), trace.rend(),
                             [](const HidTraceEntry& entry) { return entry.ok; });
    if (last == trace.rend()) {
        return 0;
    }
    return std::chrono::duration<double>(trace.back().time - last->time).count();
}

} // namespace vrax::testing
