#include "HidTraceEntry.h"

#include <cstdio>

namespace vrax {

std::string FormatTraceLine(const HidTraceEntry& entry, std::chrono::microseconds origin) {
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(entry.time - origin).count();
    return std::to_string(milliseconds) + TransferText(entry);
}

std::string TransferText(const HidTraceEntry& entry) {
    std::string text = entry.direction == HidTraceEntry::Direction::Set ? " set" : " get";
    for (const std::uint8_t byte : entry.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", byte);
        text += hex;
    }
    text += entry.ok ? " ok" : " fail";
    return text;
}

} // namespace vrax
