#include "SimulatedHidBus.h"

#include <cstdio>

namespace vrax {

namespace {

// The HID interface class GUID, so paths look like those the station sees on its platform.
constexpr const char* HidClassSuffix = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

} // namespace

SimulatedHidBus::DeviceId SimulatedHidBus::Plug(std::shared_ptr<VirtualHidDevice> device) {
    const std::lock_guard lock(mutex_);
    const DeviceId id = nextDevice_++;
    const HidAttributes attributes = device->Attributes();
    PluggedDevice plugged{std::move(device), {}};
    for (int i = 0; i < plugged.device->InterfaceCount(); ++i) {
        char path[128];
        std::snprintf(path, sizeof path, "\\\\?\\hid#vid_%04x&pid_%04x&mi_%02x#sim%d#%s",
                      attributes.vendorId, attributes.productId, i, id, HidClassSuffix);
        plugged.interfaces.push_back({path});
    }
    devices_.emplace(id, std::move(plugged));
    if (plugListener_) {
        const auto listener = plugListener_;
        listener();
    }
    return id;
}

void SimulatedHidBus::Unplug(DeviceId device) {
    const std::lock_guard lock(mutex_);
    if (devices_.erase(device) > 0 && plugListener_) {
        const auto listener = plugListener_;
        listener();
    }
}

std::vector<SimulatedHidBus::DeviceId> SimulatedHidBus::PluggedDevices() const {
    const std::lock_guard lock(mutex_);
    std::vector<DeviceId> ids;
    for (const auto& [id, plugged] : devices_) {
        ids.push_back(id);
    }
    return ids;
}

std::shared_ptr<VirtualHidDevice> SimulatedHidBus::Device(DeviceId device) const {
    const std::lock_guard lock(mutex_);
    const auto found = devices_.find(device);
    return found == devices_.end() ? nullptr : found->second.device;
}

SimulatedHidBus::Interface* SimulatedHidBus::FindInterface(DeviceId device, int interfaceIndex) {
    const auto found = devices_.find(device);
    if (found == devices_.end() || interfaceIndex < 0 ||
        interfaceIndex >= static_cast<int>(found->second.interfaces.size())) {
        return nullptr;
    }
    return &found->second.interfaces[static_cast<std::size_t>(interfaceIndex)];
}

std::string SimulatedHidBus::InterfacePath(DeviceId device, int interfaceIndex) const {
    const std::lock_guard lock(mutex_);
    const auto found = devices_.find(device);
    if (found == devices_.end() || interfaceIndex < 0 ||
        interfaceIndex >= static_cast<int>(found->second.interfaces.size())) {
        return {};
    }
    return found->second.interfaces[static_cast<std::size_t>(interfaceIndex)].path;
}

void SimulatedHidBus::SetOpenRefusals(DeviceId device, int interfaceIndex, int refusals) {
    const std::lock_guard lock(mutex_);
    if (Interface* found = FindInterface(device, interfaceIndex)) {
        found->openRefusals = refusals;
    }
}

void SimulatedHidBus::SetDetailUnreadable(DeviceId device, int interfaceIndex, bool unreadable) {
    const std::lock_guard lock(mutex_);
    if (Interface* found = FindInterface(device, interfaceIndex)) {
        found->detailUnreadable = unreadable;
    }
}

std::vector<std::string> SimulatedHidBus::EnumerateInterfaces() {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const auto& [id, plugged] : devices_) {
        for (const Interface& interface : plugged.interfaces) {
            if (!interface.detailUnreadable) {
                paths.push_back(interface.path);
            }
        }
    }
    return paths;
}

HidHandle SimulatedHidBus::Open(const std::string& path) {
    const std::lock_guard lock(mutex_);
    for (auto& [id, plugged] : devices_) {
        for (std::size_t i = 0; i < plugged.interfaces.size(); ++i) {
            Interface& interface = plugged.interfaces[i];
            if (interface.path != path) {
                continue;
            }
            if (interface.openRefusals != 0) {
                if (interface.openRefusals > 0) {
                    --interface.openRefusals;
                }
                return InvalidHandle;
            }
            const HidHandle handle = nextHandle_;
            nextHandle_ += 4;
            handles_[handle] = {id, static_cast<int>(i)};
            return handle;
        }
    }
    return InvalidHandle;
}

void SimulatedHidBus::Close(HidHandle handle) {
    const std::lock_guard lock(mutex_);
    if (handles_.erase(handle) == 0) {
        ++badCloses_;
    }
}

VirtualHidDevice* SimulatedHidBus::Reach(HidHandle handle, OpenInterface& where) {
    const auto open = handles_.find(handle);
    if (open == handles_.end()) {
        return nullptr;
    }
    where = open->second;
    const auto plugged = devices_.find(where.device);
    return plugged == devices_.end() ? nullptr : plugged->second.device.get();
}

bool SimulatedHidBus::GetAttributes(HidHandle handle, HidAttributes& attributes) {
    const std::lock_guard lock(mutex_);
    OpenInterface where;
    VirtualHidDevice* device = Reach(handle, where);
    if (device == nullptr) {
        return false;
    }
    attributes = device->Attributes();
    return true;
}

std::uint16_t SimulatedHidBus::GetFeatureReportLength(HidHandle handle) {
    const std::lock_guard lock(mutex_);
    OpenInterface where;
    VirtualHidDevice* device = Reach(handle, where);
    return device == nullptr ? 0 : device->FeatureReportLength(where.interfaceIndex);
}

bool SimulatedHidBus::SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) {
    const std::lock_guard lock(mutex_);
    OpenInterface where;
    VirtualHidDevice* device = Reach(handle, where);
    const bool ok = device != nullptr && device->SetFeature(where.interfaceIndex, buffer, length);
    Record(HidTraceEntry::Direction::Set, where, buffer, length, ok);
    return ok;
}

bool SimulatedHidBus::GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    const std::lock_guard lock(mutex_);
    OpenInterface where;
    VirtualHidDevice* device = Reach(handle, where);
    const bool ok = device != nullptr && device->GetFeature(where.interfaceIndex, buffer, length);
    Record(HidTraceEntry::Direction::Get, where, buffer, length, ok);
    return ok;
}

void SimulatedHidBus::Record(HidTraceEntry::Direction direction, const OpenInterface& where,
                             const std::uint8_t* buffer, std::size_t length, bool ok) {
    if (!traceEnabled_ && !listener_) {
        return;
    }
    HidTraceEntry entry{clock_.Now(), direction,    {buffer, buffer + length},
                        ok,           where.device, where.interfaceIndex};
    if (traceEnabled_) {
        trace_.push_back(entry);
    }
    if (listener_) {
        // A copy, so the listener may replace itself.
        const auto listener = listener_;
        listener(entry);
    }
}

bool SimulatedHidBus::IsPlugged(DeviceId device) const {
    const std::lock_guard lock(mutex_);
    return devices_.count(device) > 0;
}

int SimulatedHidBus::OpenHandleCount() const {
    const std::lock_guard lock(mutex_);
    return static_cast<int>(handles_.size());
}

int SimulatedHidBus::BadCloseCount() const {
    const std::lock_guard lock(mutex_);
    return badCloses_;
}

} // namespace vrax
