#pragma once

#include "HidTraceEntry.h"
#include "VirtualHidDevice.h"

#include "device/Clock.h"
#include "device/HidPlatform.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vrax {

// A HID platform whose devices are virtual: plugged and unplugged at any moment, every
// interface a path, every transfer optionally traced with the clock's time. A handle to an
// unplugged device fails every call from then on; closing it still releases it. Each call
// holds the bus's lock, so stations on several threads may share it; the device models are
// reached only under that lock. Trace() is for a single-threaded reader.
class SimulatedHidBus final : public HidPlatform {
public:
    using DeviceId = int;
    static constexpr int RefuseAlways = -1;

    explicit SimulatedHidBus(Clock& clock) : clock_(clock) {}

    // Enumerated after the devices plugged before it; a device plugged again gets new paths.
    DeviceId Plug(std::shared_ptr<VirtualHidDevice> device);
    void Unplug(DeviceId device);
    bool IsPlugged(DeviceId device) const;
    std::vector<DeviceId> PluggedDevices() const;
    std::shared_ptr<VirtualHidDevice> Device(DeviceId device) const;
    std::string InterfacePath(DeviceId device, int interfaceIndex) const;

    // The next refusals opens of the interface's path fail; RefuseAlways: every open.
    void SetOpenRefusals(DeviceId device, int interfaceIndex, int refusals);
    // An interface whose detail cannot be read is left out of the enumeration.
    void SetDetailUnreadable(DeviceId device, int interfaceIndex, bool unreadable);

    int OpenHandleCount() const;
    // Closes of handles that were not open, such as a second close of the same handle.
    int BadCloseCount() const;

    void SetTraceEnabled(bool enabled) {
        const std::lock_guard lock(mutex_);
        traceEnabled_ = enabled;
    }
    const std::vector<HidTraceEntry>& Trace() const { return trace_; }
    void ClearTrace() {
        const std::lock_guard lock(mutex_);
        trace_.clear();
    }
    // Called after every set and get, kept in the trace or not; it may change devices,
    // faults and plugging.
    void SetTraceListener(std::function<void(const HidTraceEntry&)> listener) {
        const std::lock_guard lock(mutex_);
        listener_ = std::move(listener);
    }

    // Called after every plug and unplug, as the system tells of a device that came or went.
    void SetPlugListener(std::function<void()> listener) {
        const std::lock_guard lock(mutex_);
        plugListener_ = std::move(listener);
    }

    std::vector<std::string> EnumerateInterfaces() override;
    HidHandle Open(const std::string& path) override;
    void Close(HidHandle handle) override;
    bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
    std::uint16_t GetFeatureReportLength(HidHandle handle) override;
    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;

private:
    struct Interface {
        std::string path;
        int openRefusals = 0;
        bool detailUnreadable = false;
    };
    struct PluggedDevice {
        std::shared_ptr<VirtualHidDevice> device;
        std::vector<Interface> interfaces;
    };
    struct OpenInterface {
        DeviceId device = 0;
        int interfaceIndex = -1;
    };

    Interface* FindInterface(DeviceId device, int interfaceIndex);
    // The open interface of a handle whose device is still plugged.
    VirtualHidDevice* Reach(HidHandle handle, OpenInterface& where);
    void Record(HidTraceEntry::Direction direction, const OpenInterface& where,
                const std::uint8_t* buffer, std::size_t length, bool ok);

    Clock& clock_;
    // Recursive: a trace listener may plug, unplug or set faults from inside a transfer.
    mutable std::recursive_mutex mutex_;
    std::map<DeviceId, PluggedDevice> devices_;
    std::map<HidHandle, OpenInterface> handles_;
    DeviceId nextDevice_ = 1;
    HidHandle nextHandle_ = 0x100;
    int badCloses_ = 0;
    bool traceEnabled_ = false;
    std::vector<HidTraceEntry> trace_;
    std::function<void(const HidTraceEntry&)> listener_;
    std::function<void()> plugListener_;
};

} // namespace vrax
