#include "programming/JobOutcome.h"

namespace vrax {

const char* JobName(Job job) {
    switch (job) {
    case Job::Write:
        return "write";
    case Job::Verify:
        return "verify";
    case Job::Save:
        return "read";
    case Job::FactoryRead:
        return "factory-read";
    }
    return "";
}

std::string VerdictText(const JobOutcome& outcome) {
    static const char* const texts[][2] = {
        {WritePassText, "Write Fail"},
        {"Verify Pass", "Verify Fail"},
        {"Save Pass", "Save Fail"},
        {"Read Ok", "Read Fail"},
    };
    if (outcome.verdict == JobVerdict::None) {
        return outcome.mouseMismatch ? MouseMismatchText : "";
    }
    return texts[static_cast<int>(outcome.job)][outcome.verdict == JobVerdict::Pass ? 0 : 1];
}

} // namespace vrax
