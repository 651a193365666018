#pragma once

#include "device/Clock.h"
#include "device/HidPlatform.h"
#include "sim/HidTraceEntry.h"

#include <chrono>
#include <ostream>

namespace vrax {

// Passes every call on to the platform underneath and writes one line per feature-report
// transfer, so real mice and virtual ones leave the same trace.
class TracingHidPlatform final : public HidPlatform {
public:
    // trace may be null: nothing is written then. origin is the clock time of "since start".
    TracingHidPlatform(HidPlatform& platform, const Clock& clock, std::chrono::microseconds origin,
                       std::ostream* trace)
        : platform_(platform), clock_(clock), origin_(origin), trace_(trace) {}

    std::vector<std::string> EnumerateInterfaces() override {
        return platform_.EnumerateInterfaces();
    }
    HidHandle Open(const std::string& path) override { return platform_.Open(path); }
    void Close(HidHandle handle) override { platform_.Close(handle); }
    bool CanOpen(const std::string& path) override { return platform_.CanOpen(path); }
    bool MayBeDevice(const std::string& path, int vendorId, int productId) override {
        return platform_.MayBeDevice(path, vendorId, productId);
    }
    bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
        return platform_.GetAttributes(handle, attributes);
    }
    std::uint16_t GetFeatureReportLength(HidHandle handle) override {
        return platform_.GetFeatureReportLength(handle);
    }
    std::vector<std::uint16_t> GetFeatureReportLengths(HidHandle handle) override {
        return platform_.GetFeatureReportLengths(handle);
    }
    bool SelectFeatureCollection(HidHandle handle, std::uint16_t length) override {
        return platform_.SelectFeatureCollection(handle, length);
    }
    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;
    std::string TakeOperatorNotice() override { return platform_.TakeOperatorNotice(); }

    // "<ms> <set|get> <bytes> <ok|fail>"; the milliseconds carry three decimals, since the
    // second family's data reports are 500 us apart.
    static std::string FormatLine(const HidTraceEntry& entry, std::chrono::microseconds origin);

private:
    void Record(HidTraceEntry::Direction direction, const std::uint8_t* buffer, std::size_t length,
                bool ok);

    HidPlatform& platform_;
    const Clock& clock_;
    std::chrono::microseconds origin_;
    std::ostream* trace_;
};

} // namespace vrax
