#pragma once

#include "device/linux/HidrawSystemCalls.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vrax::test {

enum class Placement { Usb, BluetoothBehindUsbRadio, VirtualUhid };

struct FakeInterface {
    std::string node = "hidraw0";
    Placement placement = Placement::Usb;
    std::uint16_t vendor = 0x3C5E;
    std::uint16_t product = 0x0A31;
    std::uint16_t usbRelease = 0x0104;
    std::vector<std::uint8_t> descriptor;
    int openError = 0;
    bool rawInfoFails = false;
    bool nodeInDev = true;
    // Reports answered by HIDIOCGFEATURE, keyed by report ID, report ID byte included.
    std::map<std::uint8_t, std::vector<std::uint8_t>> featureReports;
    // Stand-ins for the driver's answer to a transfer; the default delivers the whole length.
    std::function<int(std::size_t length)> setFeatureResult;
};

struct RecordedCall {
    std::string node;
    unsigned long request = 0;
    std::vector<std::uint8_t> bytes;
    int result = 0;
};

// The driver side: every node by path, every ioctl recorded.
class FakeHidrawSystemCalls final : public HidrawSystemCalls {
public:
    int Open(const std::string& path, int flags) override {
        openFlags.push_back(flags);
        const auto node = nodes.find(path);
        if (node == nodes.end()) {
            return -ENOENT;
        }
        if (node->second.openError != 0) {
            return -node->second.openError;
        }
        open[nextDescriptor] = path;
        return nextDescriptor++;
    }

    int Access(const std::string& path, int mode) override {
        accessed.push_back({path, mode});
        const auto node = nodes.find(path);
        if (node == nodes.end()) {
            return -ENOENT;
        }
        // Only a refusal of the user shows before the open; the device answers the open.
        const int error = node->second.openError;
        return error == EACCES || error == EPERM ? -error : 0;
    }

    int Close(int descriptor) override {
        closed.push_back(descriptor);
        return open.erase(descriptor) == 1 ? 0 : -EBADF;
    }

    int Ioctl(int descriptor, unsigned long request, void* argument) override {
        const auto path = open.find(descriptor);
        if (path == open.end()) {
            return -EBADF;
        }
        RecordedCall call{path->second, request, {}, -ENODEV};
        if (unplugged.count(path->second) == 0) {
            call.result = Answer(nodes.at(path->second), request, argument, call.bytes);
        }
        calls.push_back(call);
        return call.result;
    }

    std::map<std::string, FakeInterface> nodes;
    std::map<int, std::string> open;
    std::vector<int> openFlags;
    std::vector<std::pair<std::string, int>> accessed;
    std::vector<int> closed;
    std::vector<RecordedCall> calls;
    std::set<std::string> unplugged;

private:
    int Answer(const FakeInterface& node, unsigned long request, void* argument,
               std::vector<std::uint8_t>& bytes) {
        if (request == HIDIOCGRAWINFO) {
            if (node.rawInfoFails) {
                return -EINVAL;
            }
            auto* info = static_cast<hidraw_devinfo*>(argument);
            info->bustype =
                node.placement == Placement::BluetoothBehindUsbRadio ? BUS_BLUETOOTH : BUS_USB;
            info->vendor = static_cast<std::int16_t>(node.vendor);
            info->product = static_cast<std::int16_t>(node.product);
            return 0;
        }
        if (request == HIDIOCGRDESCSIZE) {
            *static_cast<int*>(argument) = static_cast<int>(node.descriptor.size());
            return 0;
        }
        if (request == HIDIOCGRDESC) {
            auto* descriptor = static_cast<hidraw_report_descriptor*>(argument);
            if (descriptor->size > HID_MAX_DESCRIPTOR_SIZE - 1) {
                return -EINVAL;
            }
            std::memcpy(descriptor->value, node.descriptor.data(),
                        std::min<std::size_t>(descriptor->size, node.descriptor.size()));
            return 0;
        }
        auto* buffer = static_cast<std::uint8_t*>(argument);
        const std::size_t length = _IOC_SIZE(request);
        if (request == HIDIOCSFEATURE(length)) {
            bytes.assign(buffer, buffer + length);
            return node.setFeatureResult ? node.setFeatureResult(length) : static_cast<int>(length);
        }
        if (request == HIDIOCGFEATURE(length)) {
            bytes.assign(buffer, buffer + length);
            const auto report = node.featureReports.find(buffer[0]);
            if (report == node.featureReports.end()) {
                return -EPIPE;
            }
            const std::size_t delivered = std::min(length, report->second.size());
            std::memcpy(buffer, report->second.data(), delivered);
            return static_cast<int>(delivered);
        }
        return -ENOTTY;
    }

    int nextDescriptor = 3;
};

// A directory standing for / with sys/ and dev/ laid out as the kernel does it.
class FakeHidrawMachine {
public:
    FakeHidrawMachine() {
        std::random_device seed;
        root = std::filesystem::temp_directory_path() /
               ("vrax-hidraw-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(root);
    }
    ~FakeHidrawMachine() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    FakeHidrawMachine(const FakeHidrawMachine&) = delete;
    FakeHidrawMachine& operator=(const FakeHidrawMachine&) = delete;

    // Returns the node's path in the fake /dev.
    std::string Add(const FakeInterface& interface) {
        namespace fs = std::filesystem;
        const std::string index = std::to_string(++added);
        const unsigned bus = interface.placement == Placement::BluetoothBehindUsbRadio ? 5 : 3;
        char hidName[32];
        std::snprintf(hidName, sizeof hidName, "%04X:%04X:%04X.%04X", bus, interface.vendor,
                      interface.product, added);
        const fs::path rootHub = root / "sys/devices/pci0000:00/usb1";
        Write(rootHub / "bcdDevice", "0601\n");
        fs::path parent;
        if (interface.placement == Placement::VirtualUhid) {
            parent = root / "sys/devices/virtual/misc/uhid";
        } else {
            const fs::path usbDevice = rootHub / ("1-" + index);
            char release[8];
            std::snprintf(release, sizeof release, "%04x\n", interface.usbRelease);
            Write(usbDevice / "bcdDevice", release);
            parent = usbDevice / ("1-" + index + ":1.0");
            if (interface.placement == Placement::BluetoothBehindUsbRadio) {
                parent /= "bluetooth/hci0/hci0:256";
            }
        }
        const fs::path hidDevice = parent / hidName;
        char hidId[64];
        std::snprintf(hidId, sizeof hidId, "HID_ID=%04X:%08X:%08X\n", bus, interface.vendor,
                      interface.product);
        Write(hidDevice / "uevent", std::string("DRIVER=hid-generic\n") + hidId);
        const fs::path classDevice = hidDevice / "hidraw" / interface.node;
        Write(classDevice / "uevent", "MAJOR=243\nMINOR=0\nDEVNAME=" + interface.node + "\n");
        fs::create_directory_symlink("../..", classDevice / "device");
        fs::create_directories(root / "sys/class/hidraw");
        fs::create_directory_symlink(fs::relative(classDevice, root / "sys/class/hidraw"),
                                     root / "sys/class/hidraw" / interface.node);
        const fs::path node = root / "dev" / interface.node;
        if (interface.nodeInDev) {
            Write(node, "");
        }
        calls->nodes[node.string()] = interface;
        return node.string();
    }

    std::filesystem::path root;
    std::shared_ptr<FakeHidrawSystemCalls> calls = std::make_shared<FakeHidrawSystemCalls>();

private:
    static void Write(const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    unsigned added = 0;
};

} // namespace vrax::test
