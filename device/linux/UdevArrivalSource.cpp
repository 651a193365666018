#include "device/DeviceArrivalSource.h"

#include <dlfcn.h>

namespace vrax {

namespace {

struct udev;
struct udev_monitor;
struct udev_device;

// The few libudev calls a monitor needs, bound at run time so the tool neither links nor
// needs libudev where it is missing; polling alone then finds the mice.
struct Udev {
    void* library = nullptr;
    udev* (*newContext)() = nullptr;
    udev* (*unrefContext)(udev*) = nullptr;
    udev_monitor* (*newMonitor)(udev*, const char*) = nullptr;
    int (*matchSubsystem)(udev_monitor*, const char*, const char*) = nullptr;
    int (*enableReceiving)(udev_monitor*) = nullptr;
    int (*descriptor)(udev_monitor*) = nullptr;
    udev_device* (*receive)(udev_monitor*) = nullptr;
    udev_device* (*unrefDevice)(udev_device*) = nullptr;
    udev_monitor* (*unrefMonitor)(udev_monitor*) = nullptr;

    template <typename Function> bool Bind(Function& function, const char* name) {
        function = reinterpret_cast<Function>(dlsym(library, name));
        return function != nullptr;
    }
    bool Load() {
        library = dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
        return library != nullptr && Bind(newContext, "udev_new") &&
               Bind(unrefContext, "udev_unref") &&
               Bind(newMonitor, "udev_monitor_new_from_netlink") &&
               Bind(matchSubsystem, "udev_monitor_filter_add_match_subsystem_devtype") &&
               Bind(enableReceiving, "udev_monitor_enable_receiving") &&
               Bind(descriptor, "udev_monitor_get_fd") &&
               Bind(receive, "udev_monitor_receive_device") &&
               Bind(unrefDevice, "udev_device_unref") && Bind(unrefMonitor, "udev_monitor_unref");
    }
};

class UdevArrivalSource final : public DeviceArrivalSource {
public:
    ~UdevArrivalSource() override {
        if (monitor_ != nullptr) {
            udev_.unrefMonitor(monitor_);
        }
        if (context_ != nullptr) {
            udev_.unrefContext(context_);
        }
        if (udev_.library != nullptr) {
            dlclose(udev_.library);
        }
    }

    bool Start() {
        if (!udev_.Load() || (context_ = udev_.newContext()) == nullptr) {
            return false;
        }
        // Events after udev has made the node and applied the rules, so the tick can open it.
        monitor_ = udev_.newMonitor(context_, "udev");
        return monitor_ != nullptr && udev_.matchSubsystem(monitor_, "hidraw", nullptr) >= 0 &&
               udev_.enableReceiving(monitor_) >= 0 && udev_.descriptor(monitor_) >= 0;
    }

    int Descriptor() const override { return udev_.descriptor(monitor_); }

    bool TakeNotifications() override {
        bool any = false;
        // The monitor's socket does not block: nullptr once nothing is pending.
        while (udev_device* device = udev_.receive(monitor_)) {
            udev_.unrefDevice(device);
            any = true;
        }
        return any;
    }

private:
    Udev udev_;
    udev* context_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

} // namespace

std::unique_ptr<DeviceArrivalSource> MakeSystemDeviceArrivalSource() {
    auto source = std::make_unique<UdevArrivalSource>();
    if (!source->Start()) {
        return nullptr;
    }
    return source;
}

} // namespace vrax
