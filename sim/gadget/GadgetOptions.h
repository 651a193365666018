#pragma once

#include "device/HidPlatform.h"
#include "sim/MouseFaults.h"
#include "sim/gadget/MouseDescriptors.h"

#include <optional>
#include <string>

namespace vrax {

struct GadgetOptions {
    MouseFamily family = MouseFamily::Kvqm31x;
    std::string familyName = "kvqm31x";
    GadgetVariant variant = GadgetVariant::Standard;
    std::optional<HidAttributes> ids; // the family's defaults when not given
    MouseFaults faults;
    std::string memoryFile;
    std::string dumpFile;
    // The n-th feature report transfer (from 0) is never answered: the cable is pulled.
    int unplugAtTransfer = -1;
    std::string name = "vrax-mouse";
    std::string udc; // the first free controller when empty
    std::string configfs = "/sys/kernel/config";
};

// Throws std::invalid_argument with a message for the user.
GadgetOptions ParseGadgetOptions(int argc, char** argv);

extern const char* const GadgetUsage;

} // namespace vrax
