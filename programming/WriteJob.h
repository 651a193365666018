#pragma once

#include "programming/StationContext.h"

namespace vrax {

// The write job of the Write button, the automatic start and the Auto Write tick: programs
// the open mouse with the loaded image and shows "Write Pass" or "Write Fail".
JobOutcome RunWriteJob(StationContext& context);

// Sleep Time + 1 repetitions of a 1 ms sleep followed by message pumping.
void SettleWait(StationContext& context);

} // namespace vrax
