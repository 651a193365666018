#pragma once

#include "programming/StationContext.h"
#include "records/ProductionRecord.h"

#include <optional>
#include <string>

namespace vrax {

class RememberingHidPlatform;

// What a record needs to know that the station does not: the image's file and the IDs the
// mouse was looked for with.
struct RecordOrigin {
    std::string imageFile;
    std::string imageSha256;
    int vendorId = 0;
    int productId = 0;
};

// The product type and serial number a write's factory record carried to the mouse.
struct StampedNumber {
    int productType = 0;
    int serialNumber = 0;
};

// "2K Byte", "256 Byte x 8" or "Custom 000-256;1280-1536;".
std::string FormatText(StationSettings& settings);

// The record of an operation that just ended on the station's open mouse: its settings, the
// mouse's path and IDs as the platform saw them, the serial number stamped (only when a write
// sent a factory record: `stamped`) or read (a factory read). durationMs and error are left to
// the caller.
ProductionRecord RecordOfOperation(const std::string& operation, const std::string& verdict,
                                   StationContext& context, const RememberingHidPlatform* devices,
                                   const RecordOrigin& origin,
                                   const std::optional<StampedNumber>& stamped = std::nullopt);

} // namespace vrax
