#include "cli/TracingHidPlatform.h"

#include <algorithm>
#include <cstdio>

namespace vrax {

bool TracingHidPlatform::SetFeature(HidHandle handle, const std::uint8_t* buffer,
                                    std::size_t length) {
    const bool ok = inner_.SetFeature(handle, buffer, length);
    Record(HidTraceEntry::Direction::Set, buffer, length, ok);
    return ok;
}

bool TracingHidPlatform::GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    const bool ok = inner_.GetFeature(handle, buffer, length);
    Record(HidTraceEntry::Direction::Get, buffer, length, ok);
    return ok;
}

void TracingHidPlatform::Record(HidTraceEntry::Direction direction, const std::uint8_t* buffer,
                                std::size_t length, bool ok) {
    if (trace_ == nullptr) {
        return;
    }
    HidTraceEntry entry;
    entry.time = clock_.Now();
    entry.direction = direction;
    entry.bytes.assign(buffer, buffer + length);
    entry.ok = ok;
    *trace_ << FormatLine(entry, origin_);
    // A failed transfer's line ends with its reason where the platform knows one.
    const std::string reason = ok ? std::string{} : inner_.LastTransferError();
    if (!reason.empty()) {
        *trace_ << ' ' << reason;
    }
    *trace_ << '\n';
}

std::string TracingHidPlatform::FormatLine(const HidTraceEntry& entry,
                                           std::chrono::microseconds origin) {
    const long long microseconds = std::max<long long>(0, (entry.time - origin).count());
    char time[32];
    std::snprintf(time, sizeof time, "%lld.%03lld", microseconds / 1000, microseconds % 1000);
    return time + TransferText(entry);
}

} // namespace vrax
