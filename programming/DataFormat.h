#pragma once

#include "programming/StationContext.h"

#include <functional>
#include <optional>
#include <string>

namespace vrax {

inline constexpr int BlockSize = 256;
inline constexpr int MaxBlockCount = ImageSize / BlockSize;

// Reads the custom range list item by item and hands each range [start, end) on in text
// order; the handler returns false to stop. Each item ends with ";" (text after the last ";"
// is ignored); the end number is the item's tail with as many characters as the start number.
// Throws ConversionError for a number that does not convert, and StationError naming the
// item for a range that is empty, negative or reaches past the image.
void ForEachCustomRange(const std::string& text,
                        const std::function<bool(int start, int end)>& handler);

// One write pass of the current data format through the given link; the KVQM31X family also
// offers Custom. Reads Retry Times, the block count and the range text afresh.
bool WriteImagePass(StationContext& context, MemoryLink& link, bool customAllowed,
                    const ImageBuffer& image);

// The check after a KVQM31X write: identity, then a read-back compare of what the format wrote.
// With Write Product ID the job's FactoryRecord is placed in the job's image first.
bool VerifyAfterWrite(StationContext& context, ImageSnapshot& image);

// The block count kept within 1 to 8: the value to set, or nothing when it is in range.
std::optional<int> ClampedBlockCount(int value);

} // namespace vrax
