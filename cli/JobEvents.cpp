#include "cli/JobEvents.h"

#include "device/HexText.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <optional>

namespace vrax {

namespace {

using Json = nlohmann::ordered_json;

std::string HexOf(const std::optional<int>& value, int digits) {
    return value ? HexText(static_cast<unsigned>(*value), digits) : std::string{};
}

// Paths and the system's error texts need not be UTF-8: a stray byte must not cost the line.
void Print(std::ostream& out, const Json& event) {
    out << event.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n' << std::flush;
}

} // namespace

void JobEvents::Start(Job job, const std::string& mouse) {
    std::lock_guard lock(mutex_);
    shown_.erase(mouse);
    Print(out_, Json{{"event", "start"}, {"job", JobName(job)}, {"mouse", mouse}});
}

void JobEvents::Progress(const std::string& mouse, int done, int total) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    const auto [last, first] = shown_.try_emplace(mouse, now);
    if (!first && now - last->second < ProgressInterval) {
        return;
    }
    last->second = now;
    Print(out_, Json{{"event", "progress"}, {"mouse", mouse}, {"done", done}, {"total", total}});
}

void JobEvents::End(const JobOutcome& outcome, const std::string& mouse, const Fields& more) {
    Json event{{"event", "end"},
               {"job", JobName(outcome.job)},
               {"mouse", mouse},
               {"verdict", VerdictText(outcome)},
               {"passed", outcome.Passed()},
               {"serial", HexOf(outcome.serialNumber, 6)},
               {"product_type", HexOf(outcome.productType, 4)},
               {"ms", outcome.durationMs},
               {"reason", outcome.reason}};
    for (const auto& [name, value] : more) {
        event[name] = value;
    }
    std::lock_guard lock(mutex_);
    shown_.erase(mouse);
    Print(out_, event);
}

void JobEvents::EndWithout(Job job, const std::string& mouse, const std::string& reason) {
    JobOutcome outcome(job);
    outcome.reason = reason;
    End(outcome, mouse);
}

void JobEvents::Tally(long mice, long passed) {
    // To the summary's one decimal.
    const double yield =
        mice > 0
            ? std::round(1000.0 * static_cast<double>(passed) / static_cast<double>(mice)) / 10.0
            : 0.0;
    std::lock_guard lock(mutex_);
    Print(out_, Json{{"event", "tally"},
                     {"mice", mice},
                     {"passed", passed},
                     {"failed", mice - passed},
                     {"yield", yield}});
}

} // namespace vrax
