#pragma once

#include "programming/JobOutcome.h"

#include <chrono>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace vrax {

// --json: the jobs as one JSON object a line on standard output, for scripts and MES adapters
// ("start", "progress", "end", and the line's "tally"). `mouse` is the interface path the job
// opened, which tells a gang's mice apart. The line's threads share one: each object is
// written whole and flushed.
class JobEvents {
public:
    using Fields = std::vector<std::pair<std::string, std::string>>;

    explicit JobEvents(std::ostream& out) : out_(out) {}

    void Start(Job job, const std::string& mouse);
    // Called for every chunk; the job's first and then one each ProgressInterval go out.
    void Progress(const std::string& mouse, int done, int total);
    // The verdict as records keep it, empty when the job gave none; `more` adds text fields.
    void End(const JobOutcome& outcome, const std::string& mouse, const Fields& more = {});
    // A job that ended with no outcome, for a reason outside the mouse (records, a file).
    void EndWithout(Job job, const std::string& mouse, const std::string& reason);
    void Tally(long mice, long passed);

    static constexpr std::chrono::milliseconds ProgressInterval{250};

private:
    std::ostream& out_;
    std::mutex mutex_;
    // The last progress each running job printed, by mouse.
    std::map<std::string, std::chrono::steady_clock::time_point> shown_;
};

} // namespace vrax
