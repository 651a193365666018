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

// The state the operations share for the whole run; one per station, made by the program.
struct StationState {
    // Byte k is device address k; the source of every write and the reference of every compare.
    ImageBuffer LoadedImage{};
    // "KVQM31X", "KVQM42xx" or "KVQM537" as selected at the last successful load; empty: none.
    std::string LoadedTypeName;
    bool ImageLoaded = false;
    // Filled by whole-image reads and kept between operations; never cleared.
    ImageBuffer ReadBackBuffer{};
    int PassCount = 0;
    FactoryRecordBytes FactoryRecord{};
};

} // namespace vrax
