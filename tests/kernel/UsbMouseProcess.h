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

// A command (searched in PATH) started beside the case, its output kept in folder (NAME.out
// and NAME.err, readable while it runs). Killed if the case leaves it running.
class BackgroundProgram {
public:
    BackgroundProgram(const std::filesystem::path& folder, const std::string& name,
                      std::vector<std::string> command);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    std::string OutSoFar() const;
    // Sleeps until the program writes to its standard output, at most the timeout: a case that
    // watches the output takes no time from the guest's one core while it waits.
    void WaitForOutput(std::chrono::milliseconds timeout) const;
    bool Running();
    // Waits for its end, at most the limit from now, then kills it (exit code -2); the
    // result's seconds count from the start.
    ProgramResult Finish(std::chrono::seconds limit);

private:
    std::filesystem::path folder_;
    std::string name_;
    pid_t pid_ = -1;
    int exitCode_ = -2;
    int watch_ = -1; // inotify, on NAME.out
    std::chrono::steady_clock::time_point start_;
};

// Runs a command to its end, at most two minutes unless told, its output kept in folder
// (program.out and program.err, readable while it runs).
ProgramResult RunProgram(const std::filesystem::path& folder, std::vector<std::string> command,
                         std::chrono::seconds limit = std::chrono::seconds(120));

// The hidraw nodes the kernel made for a USB device with these IDs.
std::vector<std::string> HidrawNodes(std::uint16_t vendorId, std::uint16_t productId);
// The hidraw nodes of the USB device with that serial number string: mice of equal IDs apart.
std::vector<std::string> HidrawNodesOfSerial(const std::string& serial);

// One vrax-usb-mouse process: a mouse on the first free controller of the guest's dummy USB
// controllers, its gadget named (and its USB serial number set) after the folder. Plug waits
// until the kernel has made its hidraw nodes; Unplug ends the process as a cable pulled
// cleanly and waits until the nodes are gone.
class UsbMouseProcess {
public:
    // Arguments as the program takes them; the memory dump goes to folder/dump.bin.
    UsbMouseProcess(const std::filesystem::path& folder, std::vector<std::string> arguments,
                    int interfaces = 1);
    ~UsbMouseProcess();
    UsbMouseProcess(const UsbMouseProcess&) = delete;
    UsbMouseProcess& operator=(const UsbMouseProcess&) = delete;

    // False when the nodes do not appear in time.
    bool Plug() { return Start() && WaitForNodes(); }
    // Plug in two steps, for mice plugged at the same moment.
    bool Start();
    bool WaitForNodes();
    // Ends the program (SIGTERM) and waits for it and for the nodes to go; false on a timeout
    // or an exit other than 0.
    bool Unplug();
    // Waits for a program that unplugs itself (--unplug-at) to end.
    bool WaitForExit(std::chrono::seconds timeout);
    bool NodesGone(std::chrono::seconds timeout) const;
    std::vector<std::string> Nodes() const { return HidrawNodesOfSerial(serial_); }

    // The mouse's memory as the program wrote it at its end.
    VirtualMouse::MemoryImage Dump() const;
    std::string Output() const;

private:
    std::filesystem::path folder_;
    std::string serial_;
    std::vector<std::string> arguments_;
    int interfaces_;
    pid_t pid_ = -1;
    int exitCode_ = -1;
};

} // namespace vrax::testing
