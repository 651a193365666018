#pragma once

#include "device/HidPlatform.h"

#include <memory>

namespace vrax {

// The machine's own HID backend: hidraw on Linux, HID.dll and SetupApi.dll on Windows, none
// elsewhere.
std::unique_ptr<HidPlatform> MakeHardwarePlatform();

bool StandardErrorIsTerminal();

} // namespace vrax
