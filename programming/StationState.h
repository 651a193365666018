#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vrax {

inline constexpr int ImageSize = 2048;
inline constexpr int FactoryRecordAddress = 160;
inline constexpr int FactoryRecordSize = 12;

using ImageBuffer = std::array<std::uint8_t, ImageSize>;
using FactoryRecordBytes = std::array<std::uint8_t, FactoryRecordSize>;

// The image and its type as an operation found them at its start. The operation works on this
// copy to its end, so a load while it pumps messages takes effect for the next mouse only.
struct ImageSnapshot {
    ImageBuffer bytes{};
    std::string typeName;
};

// The state the operations share for the whole run; one per station, made by the program.
struct StationState {
    // Byte k is device address k: the file's bytes as loaded. Operations copy it at their start
    // and never change it, so a stamped record cannot travel on to the next mouse.
    ImageBuffer LoadedImage{};
    // "KVQM31X", "KVQM42xx" or "KVQM537" as selected at the last successful load; empty: none.
    std::string LoadedTypeName;
    bool ImageLoaded = false;
    // Filled by whole-image reads and kept between operations; never cleared.
    ImageBuffer ReadBackBuffer{};
    int PassCount = 0;
    FactoryRecordBytes FactoryRecord{};
    // Write, verify, save and factory read in progress; a load in their message pumping leaves
    // polling to their end.
    int OperationsRunning = 0;
    // The platform's reason for the last transfer that failed in the last operation, such as
    // "HIDIOCSFEATURE(8) /dev/hidraw3: Broken pipe"; empty when none failed or no reason is
    // known. It goes with the operation's verdict.
    std::string LastTransferError;
    // What the last operation says when it ends without a verdict: the mouse did not answer, or
    // its status reply was unmarked.
    std::string NoVerdictReason;
};

} // namespace vrax
