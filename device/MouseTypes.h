#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vrax {

// IC type items of the type list.
inline constexpr int IcTypeKvqm31x = 0;
inline constexpr int IcTypeKvqm42xx = 1;
inline constexpr int IcTypeKvqm537 = 2;

// The two device protocols; the KVQM42xx and the KVQM537 share the second.
enum class MouseFamily {
    Kvqm31x,  // KVQM31X: report 4 with status polling
    Kvqm42xx, // KVQM42xx and KVQM537: command report 0x40, data report 0x41
};

// One item of the IC type list and what its mice carry. Device IDs are data: every layer reads
// them here and none spells them again.
struct MouseType {
    int icType;
    const char* name;
    MouseFamily family;
    std::uint16_t vendorId;
    std::uint16_t productId;
    // The USB release number (bcdDevice) of the family's mice; only the KVQM31X link opens
    // nothing else.
    std::uint16_t releaseNumber;
    bool releaseMustMatch;
    // Data bytes per feature report.
    int chunkSize;
    std::uint8_t commandReportId;
    std::uint8_t dataReportId;
};

inline constexpr std::array<MouseType, 3> MouseTypes{{
    {IcTypeKvqm31x, "KVQM31X", MouseFamily::Kvqm31x, 0x3C5E, 0x0A31, 0x0104, true, 6, 4, 4},
    {IcTypeKvqm42xx, "KVQM42xx", MouseFamily::Kvqm42xx, 0x3C5E, 0x0A42, 0x0100, false, 7, 0x40,
     0x41},
    {IcTypeKvqm537, "KVQM537", MouseFamily::Kvqm42xx, 0x3C5E, 0x0A42, 0x0100, false, 7, 0x40, 0x41},
}};

// The type of a list item; nullptr for an index outside the list.
constexpr const MouseType* FindMouseType(int icType) {
    for (const MouseType& type : MouseTypes) {
        if (type.icType == icType) {
            return &type;
        }
    }
    return nullptr;
}

// The first type of a family: the one its links and virtual mice take their numbers from.
constexpr const MouseType& FirstOfFamily(MouseFamily family) {
    return family == MouseFamily::Kvqm31x ? MouseTypes[IcTypeKvqm31x] : MouseTypes[IcTypeKvqm42xx];
}

// The name recorded at load for a type list item; empty for any other index.
inline std::string IcTypeName(int icType) {
    const MouseType* type = FindMouseType(icType);
    return type == nullptr ? std::string{} : type->name;
}

} // namespace vrax
