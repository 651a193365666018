#pragma once

#include "HidPlatform.h"

#include <memory>

namespace vrax {

// The machine's own HID backend: hidraw on Linux, HID.dll and SetupApi.dll on Windows, a
// backend without devices elsewhere.
std::unique_ptr<HidPlatform> MakeSystemHidPlatform();

} // namespace vrax
