#pragma once

#include "programming/StationError.h"

namespace vrax {

// A command line that cannot run as given: an unknown option, a missing or bad value.
class UsageError : public StationError {
public:
    using StationError::StationError;
};

} // namespace vrax
