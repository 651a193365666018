#pragma once

#include "HidPlatform.h"

#include <functional>

namespace vrax {

// The number of present HID interfaces whose path opens, whatever device they belong to.
int CountHidDevices(HidPlatform& platform);

// Offers every present interface that may be the vendor's and product's device and opens (a
// second attempt when the first open fails) and
// has a top-level collection with a feature report length of 8 to take, in enumeration order,
// narrowed to that collection. An interface whose attributes or lengths cannot be read is no
// candidate. take returns true when it keeps the handle; every other opened handle is closed
// again.
void ForEachFeatureInterface(HidPlatform& platform, int vendorId, int productId,
                             const std::function<bool(HidHandle, const HidAttributes&)>& take);

} // namespace vrax
