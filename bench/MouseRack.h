#pragma once

#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse.h"
#include "sim/VirtualMouse42xx.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vrax {

// The virtual mice on the bench and the one keyboard, each plugged into the bus or lying
// beside it. Mice are known by a number that is never given twice.
class MouseRack {
public:
    struct Mouse {
        int number = 0;
        // The station's IC type item the mouse is made for: KVQM31X, KVQM42xx or KVQM537.
        int icType = 0;
        std::shared_ptr<VirtualMouse> device;
        std::optional<SimulatedHidBus::DeviceId> busId;
        // Set for the mice the production line brings.
        int lineIndex = 0;

        bool Plugged() const { return busId.has_value(); }
    };

    explicit MouseRack(SimulatedHidBus& bus) : bus_(bus) {}

    SimulatedHidBus& Bus() { return bus_; }

    // A fresh mouse with the default IDs of its IC type; it lies unplugged.
    int Add(int icType, VirtualMouse42xx::Layout layout = VirtualMouse42xx::Layout::OneInterface);
    bool Plug(int number);
    bool Unplug(int number);
    // Unplugs the mouse first when needed.
    void Remove(int number);

    Mouse* Find(int number);
    const std::vector<Mouse>& Mice() const { return mice_; }

    void PlugKeyboard();
    void UnplugKeyboard();
    bool KeyboardPlugged() const { return keyboardId_.has_value(); }

    static std::string Describe(const Mouse& mouse);

    // Called after every change of the rack.
    void SetChangeListener(std::function<void()> listener) { changed_ = std::move(listener); }

private:
    void Changed();

    SimulatedHidBus& bus_;
    std::vector<Mouse> mice_;
    int nextNumber_ = 1;
    std::optional<SimulatedHidBus::DeviceId> keyboardId_;
    std::function<void()> changed_;
};

} // namespace vrax
