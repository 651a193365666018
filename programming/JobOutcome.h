#pragma once

#include <optional>
#include <string>

namespace vrax {

// The four jobs an operator or a jig can run on a mouse.
enum class Job { Write, Verify, Save, FactoryRead };

enum class JobVerdict { None, Pass, Fail };

// What one job did to one mouse. The window paints its captions itself; everything that keeps
// or counts a job (records, command line, line, tally) reads this.
struct JobOutcome {
    explicit JobOutcome(Job kind = Job::Write) : job(kind) {}

    Job job;
    JobVerdict verdict = JobVerdict::None;
    // "BIN file not match Mouse" was shown: the mouse is not the image's, or was not ready.
    bool mouseMismatch = false;
    // Why it did not pass, as the platform or the mouse said; with a mismatch, the mismatch.
    std::string reason;
    // The factory record's product type and serial number: stamped by a write once its record
    // went out to the mouse, or read by a factory read.
    std::optional<int> productType;
    std::optional<int> serialNumber;
    long long durationMs = 0; // from the job's start to its record

    bool Passed() const { return verdict == JobVerdict::Pass; }
};

// "write", "verify", "read" or "factory-read": the job as records, logs and the command line
// name it.
const char* JobName(Job job);

// The verdict as records and logs keep it ("Write Pass", "Save Fail", "Read Ok", "BIN file not
// match Mouse"...); empty when the job gave none. Stored files and reports rely on these texts.
std::string VerdictText(const JobOutcome& outcome);

inline constexpr const char* WritePassText = "Write Pass";
inline constexpr const char* MouseMismatchText = "BIN file not match Mouse";

} // namespace vrax
