#pragma once

#include "JobTraits.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vrax {

class Clock;
class HidPlatform;
class LinkProgress;
class MouseLink;

// IC type items of the type list.
inline constexpr int IcTypeKvqm31x = 0;
inline constexpr int IcTypeKvqm42xx = 1;
inline constexpr int IcTypeKvqm537 = 2;

// The two device protocols of the type list; the KVQM42xx and the KVQM537 share the second.
enum class MouseFamily {
    Kvqm31x,  // KVQM31X: report 4 with status polling
    Kvqm42xx, // KVQM42xx and KVQM537: command report 0x40, data report 0x41
};

// Makes a station's link of one family. Types with the same factory share one link.
using MouseLinkFactory = std::unique_ptr<MouseLink> (*)(HidPlatform&, Clock&, LinkProgress&);

std::unique_ptr<MouseLink> MakeKvqm31xLink(HidPlatform& platform, Clock& clock,
                                           LinkProgress& progress);
std::unique_ptr<MouseLink> MakeKvqm42xxLink(HidPlatform& platform, Clock& clock,
                                            LinkProgress& progress);

// One item of the IC type list and what its mice carry. Device IDs are data: every layer reads
// them here and none spells them again.
struct MouseType {
    int icType;
    const char* name;
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
    JobTraits jobs;
    MouseLinkFactory makeLink;
};

inline constexpr JobTraits Kvqm31xJobs{
    .checkedWrite = true, .customRanges = true, .verifyInBlocks = true, .largeWriteVerdict = true};

inline constexpr std::array<MouseType, 3> MouseTypes{{
    {IcTypeKvqm31x, "KVQM31X", 0x3C5E, 0x0A31, 0x0104, true, 6, 4, 4, Kvqm31xJobs,
     &MakeKvqm31xLink},
    {IcTypeKvqm42xx, "KVQM42xx", 0x3C5E, 0x0A42, 0x0100, false, 7, 0x40, 0x41, JobTraits{},
     &MakeKvqm42xxLink},
    {IcTypeKvqm537, "KVQM537", 0x3C5E, 0x0A42, 0x0100, false, 7, 0x40, 0x41, JobTraits{},
     &MakeKvqm42xxLink},
}};

// Adds a type outside the window's list, for a family the program does not ship (one under
// test). Not thread-safe: register before any station is made, as stations make their links
// from the types known then. Its item must not be one of the list's.
void RegisterMouseType(const MouseType& type);

// The table's types, then the registered ones.
std::vector<const MouseType*> KnownMouseTypes();

// The type of an item; nullptr for an item no type has.
const MouseType* FindMouseType(int icType);

// The type with this name, any letter case; nullptr when none has it.
const MouseType* FindMouseTypeByName(std::string_view name);

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
