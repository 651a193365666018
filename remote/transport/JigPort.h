#pragma once

#include "remote/transport/JigPorts.h"

#include <string>

namespace vrax {

// One open way in, behind JigPorts.
class JigPorts::Port {
public:
    virtual ~Port() = default;
    virtual std::string Name() const = 0;
    virtual void Send(const std::string& bytes) = 0;
};

} // namespace vrax
