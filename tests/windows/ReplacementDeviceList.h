#pragma once

// The devices a program started by a test finds, read by both replacement libraries from the
// file named in VRAX_REPLACEMENT_DEVICES, one device a line:
//
//   MODEL VENDOR PRODUCT VERSION FEATURE_LENGTH MEMORY_FILE|- INTERFACE_PATH...
//
// Numbers in C notation (0x3C5E or decimal). The memory file holds a virtual mouse's 2048
// bytes: read when present, written back when the program ends.

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vrax::wine {

struct ListedDevice {
    std::string model;
    unsigned vendorId = 0;
    unsigned productId = 0;
    unsigned versionNumber = 0;
    unsigned featureReportLength = 0;
    std::string memoryFile;
    std::vector<std::string> paths;
};

inline std::vector<ListedDevice> ReadDeviceList() {
    std::vector<ListedDevice> devices;
    const char* listPath = std::getenv("VRAX_REPLACEMENT_DEVICES");
    if (listPath == nullptr) {
        return devices;
    }
    std::ifstream list(listPath);
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        ListedDevice device;
        std::string vendor, product, version, length;
        if (!(fields >> device.model >> vendor >> product >> version >> length >>
              device.memoryFile)) {
            continue;
        }
        device.vendorId = static_cast<unsigned>(std::strtoul(vendor.c_str(), nullptr, 0));
        device.productId = static_cast<unsigned>(std::strtoul(product.c_str(), nullptr, 0));
        device.versionNumber = static_cast<unsigned>(std::strtoul(version.c_str(), nullptr, 0));
        device.featureReportLength =
            static_cast<unsigned>(std::strtoul(length.c_str(), nullptr, 0));
        if (device.memoryFile == "-") {
            device.memoryFile.clear();
        }
        for (std::string path; fields >> path;) {
            device.paths.push_back(path);
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

} // namespace vrax::wine
