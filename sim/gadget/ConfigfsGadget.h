#pragma once

#include "device/HidPlatform.h"

#include <filesystem>
#include <string>

namespace vrax {

// One USB gadget in configfs with a single FunctionFS function, mounted for the program to
// serve. Plugging in binds it to a device controller; unplugging unbinds it, as a cable
// pulled. The destructor unplugs and removes everything it made.
class ConfigfsGadget {
public:
    ConfigfsGadget(const std::filesystem::path& configfs, const std::string& name,
                   const HidAttributes& ids);
    ~ConfigfsGadget();
    ConfigfsGadget(const ConfigfsGadget&) = delete;
    ConfigfsGadget& operator=(const ConfigfsGadget&) = delete;

    // The FunctionFS mount with ep0.
    const std::filesystem::path& FunctionFs() const { return mount_; }

    // An empty udc takes the first controller that holds no gadget. Throws
    // std::runtime_error when no controller takes the gadget.
    void Plug(std::string udc);
    void Unplug();
    const std::string& Controller() const { return udc_; }

private:
    void Remove();

    std::filesystem::path gadget_;
    std::filesystem::path mount_;
    std::string function_;
    std::string udc_;
    bool mounted_ = false;
};

} // namespace vrax
