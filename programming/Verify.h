#pragma once

#include "programming/StationContext.h"

namespace vrax {

// Compares the open mouse's 2048 bytes with the loaded image; on the KVQM31X family the
// factory record's twelve bytes are passed over.
JobOutcome RunVerify(StationContext& context);

} // namespace vrax
