#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vrax {

// One feature-report transfer on the simulated bus.
struct HidTraceEntry {
    enum class Direction { Set, Get };

    std::chrono::microseconds time{0}; // the bus clock's time when the transfer ended
    Direction direction = Direction::Set;
    // The buffer as sent; for a get, as it came back (unchanged when the get failed).
    std::vector<std::uint8_t> bytes;
    bool ok = false;
    int device = 0; // 0: the handle belongs to no device
    int interfaceIndex = -1;
};

// " <set|get> <bytes as two-digit lowercase hex> <ok|fail>": a trace line after its time.
std::string TransferText(const HidTraceEntry& entry);

// "<milliseconds since origin> <set|get> <bytes as two-digit lowercase hex> <ok|fail>".
std::string FormatTraceLine(const HidTraceEntry& entry, std::chrono::microseconds origin);

} // namespace vrax
