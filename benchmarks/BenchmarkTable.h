#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace vrax {

// One row of the table run-benchmarks.sh prints: every benchmark program writes its figures
// as Markdown table rows, so the script only adds the header. A row without a target has no
// verdict.
inline void PrintBenchmarkRow(const std::string& benchmark, const std::string& subject,
                              const std::string& figure, const std::string& target,
                              std::optional<bool> met) {
    const char* verdict = !met ? "-" : *met ? "met" : "MISSED";
    std::printf("| %s | %s | %s | %s | %s |\n", benchmark.c_str(), subject.c_str(), figure.c_str(),
                target.c_str(), verdict);
    std::fflush(stdout);
}

inline std::string FormatFigure(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace vrax
