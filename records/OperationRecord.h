#pragma once

#include "programming/JobOutcome.h"
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

// "2K Byte", "256 Byte x 8" or "Custom 000-256;1280-1536;".
std::string FormatText(StationSettings& settings);

// The letter records give the line of a station's fields: A to Z, '?' for none of them.
char LineLetter(int lineIndex);

// The record of a job that just ended on the station's open mouse: its outcome, the station's
// settings, the mouse's path and IDs as the platform saw them.
ProductionRecord RecordOfOperation(const JobOutcome& outcome, StationContext& context,
                                   const RememberingHidPlatform* devices,
                                   const RecordOrigin& origin);

} // namespace vrax
