#pragma once

#include "programming/StationContext.h"

namespace vrax {

// One write pass of the current data format through the link; Custom only for types that offer
// it. Reads Retry Times, the block count and the range text afresh.
bool WriteImagePass(StationContext& context, MemoryLink& link, const JobTraits& jobs,
                    const ImageBuffer& image);

// The check after a checked write: identity, then a read-back compare of what the format wrote.
// With Write Product ID the job's FactoryRecord is placed in the job's image first.
bool VerifyAfterWrite(StationContext& context, MouseLink& link, ImageSnapshot& image);

} // namespace vrax
