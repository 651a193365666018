#pragma once

#include "device/HidPlatform.h"
#include "sim/VirtualMouse.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vrax::testing {

struct ProgramResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    double seconds = 0;
};

// Runs a command (searched in PATH) to its end, at most two minutes unless told, its output
// kept in folder (program.out and program.err, readable while it runs).
ProgramResult RunProgram(const std::filesystem::path& folder, std::vector<std::string> command,
                         std::chrono::seconds limit = std::chrono::seconds(120));

// The hidraw nodes the kernel made for a USB device with these IDs.
std::vector<std::string> HidrawNodes(std::uint16_t vendorId, std::uint16_t productId);

// One vrax-usb-mouse process: a mouse on the guest's dummy USB controller. Plug waits until
// the kernel has made its hidraw nodes; Unplug ends the process as a cable pulled cleanly
// and waits until the nodes are gone.
class UsbMouseProcess {
public:
    // Arguments as the program takes them; the memory dump goes to folder/dump.bin.
    UsbMouseProcess(const std::filesystem::path& folder, std::vector<std::string> arguments,
                    HidAttributes ids, int interfaces = 1);
    ~UsbMouseProcess();
    UsbMouseProcess(const UsbMouseProcess&) = delete;
    UsbMouseProcess& operator=(const UsbMouseProcess&) = delete;

    // False when the nodes do not appear in time.
    bool Plug();
    // Ends the program (SIGTERM) and waits for it and for the nodes to go; false on a timeout
    // or an exit other than 0.
    bool Unplug();
    // Waits for a program that unplugs itself (--unplug-at) to end.
    bool WaitForExit(std::chrono::seconds timeout);
    bool NodesGone(std::chrono::seconds timeout) const;

    // The mouse's memory as the program wrote it at its end.
    VirtualMouse::MemoryImage Dump() const;
    std::string Output() const;

private:
    std::filesystem::path folder_;
    std::vector<std::string> arguments_;
    HidAttributes ids_;
    int interfaces_;
    pid_t pid_ = -1;
    int exitCode_ = -1;
};

} // namespace vrax::testing
