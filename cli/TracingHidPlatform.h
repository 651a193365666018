#pragma once

#include "device/Clock.h"
#include "device/ForwardingHidPlatform.h"
#include "sim/HidTraceEntry.h"

#include <chrono>
#include <ostream>

namespace vrax {

// Passes every call on to the platform underneath and writes one line per feature-report
// transfer, so real mice and virtual ones leave the same trace.
class TracingHidPlatform final : public ForwardingHidPlatform {
public:
    // trace may be null: nothing is written then. origin is the clock time of "since start".
    TracingHidPlatform(HidPlatform& platform, const Clock& clock, std::chrono::microseconds origin,
                       std::ostream* trace)
        : ForwardingHidPlatform(platform), clock_(clock), origin_(origin), trace_(trace) {}

    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;

    // "<ms> <set|get> <bytes> <ok|fail>"; the milliseconds carry three decimals, since the
    // second family's data reports are 500 us apart.
    static std::string FormatLine(const HidTraceEntry& entry, std::chrono::microseconds origin);

private:
    void Record(HidTraceEntry::Direction direction, const std::uint8_t* buffer, std::size_t length,
                bool ok);

    const Clock& clock_;
    std::chrono::microseconds origin_;
    std::ostream* trace_;
};

} // namespace vrax
