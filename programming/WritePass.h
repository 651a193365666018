#pragma once

#include "programming/StationContext.h"

namespace vrax {

// One write pass of the current data format through the link of the given family; only the
// KVQM31X family offers Custom. Reads Retry Times, the block count and the range text afresh.
bool WriteImagePass(StationContext& context, MemoryLink& link, MouseFamily family,
                    const ImageBuffer& image);

// The check after a KVQM31X write: identity, then a read-back compare of what the format wrote.
// With Write Product ID the job's FactoryRecord is placed in the job's image first.
bool VerifyAfterWrite(StationContext& context, ImageSnapshot& image);

} // namespace vrax
