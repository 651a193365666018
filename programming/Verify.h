#pragma once

#include "programming/StationContext.h"

namespace vrax {

enum class VerifyVerdict { None, Pass, Fail };

// Compares the open mouse's 2048 bytes with the loaded image; on the KVQM31X family the
// factory record's twelve bytes are passed over.
VerifyVerdict RunVerify(StationContext& context);

} // namespace vrax
