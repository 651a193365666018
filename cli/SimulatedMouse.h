#pragma once

#include "cli/CommandLineOptions.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse.h"

#include <memory>
#include <string>

namespace vrax {

// The one virtual mouse of --sim on its own simulated bus.
class SimulatedMouse {
public:
    SimulatedMouse(const SimulatedMouseOptions& options, Clock& clock);

    // Gives the mouse its initial memory and plugs it in. Throws FileError or UsageError for a
    // memory file that cannot be read or is not 2048 bytes.
    void Plug();
    // Writes the mouse's memory as it is now. Throws FileError.
    void Dump(const std::string& path) const;

    SimulatedHidBus& Bus() { return bus_; }
    VirtualMouse& Mouse() { return *mouse_; }

private:
    SimulatedMouseOptions options_;
    SimulatedHidBus bus_;
    std::shared_ptr<VirtualMouse> mouse_;
};

} // namespace vrax
