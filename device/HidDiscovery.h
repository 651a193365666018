#pragma once

#include "HidPlatform.h"

namespace vrax {

// The number of present HID interfaces whose path opens, whatever device they belong to.
int CountHidDevices(HidPlatform& platform);

} // namespace vrax
