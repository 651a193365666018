#pragma once

#include "device/MouseTypes.h"

#include <string>

namespace vrax {

// The command line's words for the type table, so that no text spells a name or an ID again.

// Every type's name: "KVQM31X, KVQM42xx or KVQM537".
std::string IcTypeNameList();

// The names of the types whose jobs have the trait: "KVQM31X", "KVQM42xx and KVQM537".
std::string TypeNamesWith(bool JobTraits::*trait, bool value = true);

// The product IDs with their types: "0A31 for KVQM31X, 0A42 for KVQM42xx and KVQM537".
std::string ProductIdList();

// The release numbers that must match: "for KVQM31X, release number 0104".
std::string ReleaseNumberList();

} // namespace vrax
