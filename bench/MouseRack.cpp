#include "MouseRack.h"

#include "programming/StationSettings.h"
#include "sim/PlainHidDevice.h"
#include "sim/VirtualMouse31x.h"

#include <algorithm>

namespace vrax {

int MouseRack::Add(int icType, VirtualMouse42xx::Layout layout) {
    Mouse mouse;
    mouse.number = nextNumber_++;
    mouse.icType = icType;
    if (icType == IcTypeKvqm31x) {
        mouse.device = std::make_shared<VirtualMouse31x>();
    } else {
        mouse.device = std::make_shared<VirtualMouse42xx>(layout);
    }
    mice_.push_back(mouse);
    Changed();
    return mouse.number;
}

bool MouseRack::Plug(int number) {
    Mouse* mouse = Find(number);
    if (mouse == nullptr || mouse->Plugged()) {
        return false;
    }
    mouse->busId = bus_.Plug(mouse->device);
    Changed();
    return true;
}

bool MouseRack::Unplug(int number) {
    Mouse* mouse = Find(number);
    if (mouse == nullptr || !mouse->Plugged()) {
        return false;
    }
    bus_.Unplug(*mouse->busId);
    mouse->busId.reset();
    Changed();
    return true;
}

void MouseRack::Remove(int number) {
    Unplug(number);
    const auto found = std::find_if(mice_.begin(), mice_.end(), [number](const Mouse& mouse) {
        return mouse.number == number;
    });
    if (found != mice_.end()) {
        mice_.erase(found);
        Changed();
    }
}

MouseRack::Mouse* MouseRack::Find(int number) {
    const auto found = std::find_if(mice_.begin(), mice_.end(), [number](const Mouse& mouse) {
        return mouse.number == number;
    });
    return found == mice_.end() ? nullptr : &*found;
}

void MouseRack::PlugKeyboard() {
    if (!keyboardId_) {
        keyboardId_ = bus_.Plug(std::make_shared<PlainHidDevice>());
        Changed();
    }
}

void MouseRack::UnplugKeyboard() {
    if (keyboardId_) {
        bus_.Unplug(*keyboardId_);
        keyboardId_.reset();
        Changed();
    }
}

std::string MouseRack::Describe(const Mouse& mouse) {
    std::string name = mouse.lineIndex > 0 ? "Line " + std::to_string(mouse.lineIndex)
                                           : "Mouse " + std::to_string(mouse.number);
    const MouseType* type = FindMouseType(mouse.icType);
    return name + " · " + (type != nullptr ? type->name : "?");
}

void MouseRack::Changed() {
    if (changed_) {
        changed_();
    }
}

} // namespace vrax
