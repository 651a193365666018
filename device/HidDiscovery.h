#pragma once

#include "HidPlatform.h"

#include <functional>
#include <optional>

namespace vrax {

// The number of present HID interfaces whose path opens, whatever device they belong to.
int CountHidDevices(HidPlatform& platform);

// The polling's stability rule: five pairs of samples, of which at least two must agree. The
// result is the first sample of the last pair; nothing while the samples disagree.
template <typename Take> auto StableSample(Take take) -> std::optional<decltype(take())> {
    int agreeingPairs = 0;
    std::optional<decltype(take())> last;
    for (int pair = 0; pair < 5; ++pair) {
        auto first = take();
        if (first == take()) {
            ++agreeingPairs;
        }
        last = std::move(first);
    }
    if (agreeingPairs < 2) {
        return std::nullopt;
    }
    return last;
}

// Offers every present interface that may be the vendor's and product's device and opens (a
// second attempt when the first open fails) and
// has a top-level collection with a feature report length of 8 to take, in enumeration order,
// narrowed to that collection. An interface whose attributes or lengths cannot be read is no
// candidate. take returns true when it keeps the handle; every other opened handle is closed
// again.
void ForEachFeatureInterface(HidPlatform& platform, int vendorId, int productId,
                             const std::function<bool(HidHandle, const HidAttributes&)>& take);

} // namespace vrax
