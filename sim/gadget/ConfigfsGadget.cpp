#include "sim/gadget/ConfigfsGadget.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace vrax {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path);
    out << text << std::flush;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

bool TryWriteFile(const fs::path& path, const std::string& text) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool written =
        write(descriptor, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(descriptor) == 0 && written;
}

// A controller is taken while some gadget's UDC file names it.
std::set<std::string> ControllersInUse(const fs::path& gadgets) {
    std::set<std::string> taken;
    std::error_code error;
    for (const auto& gadget : fs::directory_iterator(gadgets, error)) {
        std::ifstream file(gadget.path() / "UDC");
        std::string name;
        if (std::getline(file, name) && !name.empty()) {
            taken.insert(name);
        }
    }
    return taken;
}

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

} // namespace

ConfigfsGadget::ConfigfsGadget(const fs::path& configfs, const std::string& name,
                               const HidAttributes& ids)
    : gadget_(configfs / "usb_gadget" / name), mount_(fs::path("/dev") / ("ffs-" + name)),
      function_("ffs." + name) {
    // What a crashed run left behind goes first.
    Remove();
    fs::create_directories(gadget_);
    WriteFile(gadget_ / "idVendor", Hex(ids.vendorId));
    WriteFile(gadget_ / "idProduct", Hex(ids.productId));
    WriteFile(gadget_ / "bcdDevice", Hex(ids.versionNumber));
    WriteFile(gadget_ / "bcdUSB", "0x0200");
    fs::create_directories(gadget_ / "strings/0x409");
    WriteFile(gadget_ / "strings/0x409/manufacturer", "VRAX");
    WriteFile(gadget_ / "strings/0x409/product", "VRAX bench mouse");
    WriteFile(gadget_ / "strings/0x409/serialnumber", name);
    fs::create_directories(gadget_ / "configs/c.1/strings/0x409");
    WriteFile(gadget_ / "configs/c.1/MaxPower", "100");
    WriteFile(gadget_ / "configs/c.1/strings/0x409/configuration", "mouse");
    fs::create_directory(gadget_ / "functions" / function_);
    fs::create_directory_symlink(gadget_ / "functions" / function_,
                                 gadget_ / "configs/c.1" / function_);
    fs::create_directories(mount_);
    if (mount(name.c_str(), mount_.c_str(), "functionfs", 0, nullptr) != 0) {
        throw std::runtime_error("cannot mount functionfs at " + mount_.string());
    }
    mounted_ = true;
}

ConfigfsGadget::~ConfigfsGadget() {
    try {
        Remove();
    } catch (...) {
    }
}

void ConfigfsGadget::Plug(std::string udc) {
    if (!udc.empty()) {
        WriteFile(gadget_ / "UDC", udc);
        udc_ = udc;
        return;
    }
    std::vector<std::string> controllers;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/udc", error)) {
        controllers.push_back(entry.path().filename().string());
    }
    if (controllers.empty()) {
        throw std::runtime_error("no USB device controller (is dummy_hcd loaded?)");
    }
    std::sort(controllers.begin(), controllers.end());
    const std::set<std::string> taken = ControllersInUse(gadget_.parent_path());
    for (const std::string& controller : controllers) {
        // Mice started together may pick the same free one: the kernel binds it to the first
        // and refuses the others, which go on to the next.
        if (taken.count(controller) == 0 && TryWriteFile(gadget_ / "UDC", controller)) {
            udc_ = controller;
            return;
        }
    }
    throw std::runtime_error("every USB device controller holds a gadget");
}

void ConfigfsGadget::Unplug() {
    if (udc_.empty()) {
        return;
    }
    std::ofstream(gadget_ / "UDC") << "\n" << std::flush;
    udc_.clear();
}

void ConfigfsGadget::Remove() {
    std::error_code error;
    if (fs::exists(gadget_ / "UDC", error)) {
        std::ofstream(gadget_ / "UDC") << "\n" << std::flush;
    }
    udc_.clear();
    if (mounted_ || fs::exists(mount_, error)) {
        umount2(mount_.c_str(), MNT_DETACH);
        mounted_ = false;
        fs::remove(mount_, error);
    }
    // configfs wants its items removed one by one, children first.
    for (const char* item : {"configs/c.1/strings/0x409", "configs/c.1", "strings/0x409", ""}) {
        if (std::string(item) == "configs/c.1") {
            fs::remove(gadget_ / "configs/c.1" / function_, error);
        }
        if (std::string(item).empty()) {
            rmdir((gadget_ / "functions" / function_).c_str());
        }
        rmdir((gadget_ / item).c_str());
    }
}

} // namespace vrax
