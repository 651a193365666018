#pragma once

#include "device/Clock.h"
#include "device/LinkProgress.h"
#include "sim/SimulatedHidBus.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vrax::test {

using Image = std::array<std::uint8_t, 2048>;

inline Image PatternImage() {
    Image image{};
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>((i * 37 + 11) ^ (i >> 3));
    }
    return image;
}

// The transfer without its time: "set 04 06 00 00 00 08 00 00 ok".
inline std::string Transfer(const HidTraceEntry& entry) {
    const std::string line = FormatTraceLine(entry, entry.time);
    return line.substr(line.find(' ') + 1);
}

inline std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += i == 0 ? "" : " ";
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

// The window side of the links, as the station's view answers their progress: the busy window
// shown and messages pumped before each chunk, messages pumped at each pause. Records the calls
// in one sequence with the bus traffic, and lets a test act at each show, as an operator or the
// bench would between chunks.
class RecordingHost : public LinkProgress {
public:
    void ChunkStarting(int done, int total) override {
        ++shows;
        lastProgress = {done, total};
        events.push_back("show");
        if (onShow) {
            onShow(shows);
        }
        Idle();
    }
    void Idle() override {
        ++pumps;
        events.push_back("pump");
    }

    std::pair<int, int> lastProgress{-1, -1};

    int shows = 0;
    int pumps = 0;
    std::vector<std::string> events;
    std::function<void(int showCount)> onShow;
};

struct LinkTestBench {
    LinkTestBench() {
        bus.SetTraceEnabled(true);
        bus.SetTraceListener([this](const HidTraceEntry& entry) {
            host.events.push_back(entry.direction == HidTraceEntry::Direction::Set ? "set" : "get");
        });
    }

    // Forgets the traffic and host calls so far; the clock runs on.
    void ClearRecords() {
        bus.ClearTrace();
        host.events.clear();
        host.shows = 0;
        host.pumps = 0;
    }

    // The first count host calls and transfers, space separated.
    std::string FirstEvents(std::size_t count) const {
        std::string text;
        for (std::size_t i = 0; i < count && i < host.events.size(); ++i) {
            text += (i == 0 ? "" : " ") + host.events[i];
        }
        return text;
    }

    std::vector<std::string> Transfers() const {
        std::vector<std::string> transfers;
        for (const HidTraceEntry& entry : bus.Trace()) {
            transfers.push_back(Transfer(entry));
        }
        return transfers;
    }

    VirtualClock clock;
    SimulatedHidBus bus{clock};
    RecordingHost host;
};

} // namespace vrax::test
