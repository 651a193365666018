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

// The block count kept within 1 to 8: the value to set, or nothing when it is in range.
std::optional<int> ClampedBlockCount(int value);

} // namespace vrax
