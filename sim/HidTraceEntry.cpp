#include "HidTraceEntry.h"

#include <cstdio>

namespace vrax {

std::string FormatTraceLine(const HidTraceEntry& entry, std::chrono::microseconds origin) {
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(entry.time - origin).count();
    std::string line = std::to_string(milliseconds);
    line += entry.direction == HidTraceEntry::Direction::Set ? " set" : " get";
    for (const std::uint8_t byte : entry.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", byte);
        line += hex;
    }
    line += entry.ok ? " ok" : " fail";
    return line;
}

} // namespace vrax
