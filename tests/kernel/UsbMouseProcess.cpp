#include "tests/kernel/UsbMouseProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vrax::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

pid_t Spawn(const fs::path& folder, const std::string& name, std::vector<std::string> command) {
    const std::string out = (folder / (name + ".out")).string();
    const std::string err = (folder / (name + ".err")).string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& argument : command) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        child = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// The exit code, -1 for a signal, -2 while it runs past the deadline.
int WaitFor(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (done < 0 || Clock::now() > deadline) {
            return -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

BackgroundProgram::BackgroundProgram(const fs::path& folder, const std::string& name,
                                     std::vector<std::string> command)
    : folder_(folder), name_(name), start_(Clock::now()) {
    pid_ = Spawn(folder, name, std::move(command));
    if (pid_ < 0) {
        exitCode_ = -1;
    }
    watch_ = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(watch_, (folder / (name + ".out")).c_str(), IN_MODIFY);
}

BackgroundProgram::~BackgroundProgram() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (watch_ >= 0) {
        close(watch_);
    }
}

void BackgroundProgram::WaitForOutput(std::chrono::milliseconds timeout) const {
    pollfd wanted{watch_, POLLIN, 0};
    if (watch_ < 0 || poll(&wanted, 1, static_cast<int>(timeout.count())) <= 0) {
        std::this_thread::sleep_for(watch_ < 0 ? timeout : std::chrono::milliseconds(0));
        return;
    }
    char events[4096];
    [[maybe_unused]] const ssize_t got = read(watch_, events, sizeof events);
}

std::string BackgroundProgram::OutSoFar() const {
    return Slurp(folder_ / (name_ + ".out"));
}

bool BackgroundProgram::Running() {
    if (pid_ > 0 && (exitCode_ = WaitFor(pid_, Clock::time_point::min())) != -2) {
        pid_ = -1;
    }
    return pid_ > 0;
}

ProgramResult BackgroundProgram::Finish(std::chrono::seconds limit) {
    ProgramResult result;
    result.exitCode = exitCode_;
    if (pid_ > 0) {
        // A program that hangs on a gone device must fail the test, not the whole bench.
        result.exitCode = WaitFor(pid_, Clock::now() + limit);
        if (result.exitCode == -2) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_ = -1;
    result.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    result.out = Slurp(folder_ / (name_ + ".out"));
    result.err = Slurp(folder_ / (name_ + ".err"));
    return result;
}

ProgramResult RunProgram(const fs::path& folder, std::vector<std::string> command,
                         std::chrono::seconds limit) {
    return BackgroundProgram(folder, "program", std::move(command)).Finish(limit);
}

std::vector<std::string> HidrawNodes(std::uint16_t vendorId, std::uint16_t productId) {
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "HID_ID=0003:%08X:%08X", vendorId, productId);
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
        const std::string uevent = Slurp(entry.path() / "device" / "uevent");
        const fs::path node = fs::path("/dev") / entry.path().filename();
        if (uevent.find(wanted) != std::string::npos && fs::exists(node, error)) {
            nodes.push_back(node.string());
        }
    }
    return nodes;
}

std::vector<std::string> HidrawNodesOfSerial(const std::string& serial) {
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
        // hidrawN/device is the HID device; its interface's parent is the USB device.
        std::error_code gone;
        const fs::path usb = fs::canonical(entry.path() / "device" / ".." / "..", gone);
        const fs::path node = fs::path("/dev") / entry.path().filename();
        if (!gone && Slurp(usb / "serial") == serial + "\n" && fs::exists(node, gone)) {
            nodes.push_back(node.string());
        }
    }
    return nodes;
}

UsbMouseProcess::UsbMouseProcess(const fs::path& folder, std::vector<std::string> arguments,
                                 int interfaces)
    : folder_(folder), serial_("vrax-" + folder.filename().string()),
      arguments_(std::move(arguments)), interfaces_(interfaces) {}

UsbMouseProcess::~UsbMouseProcess() {
    if (pid_ > 0 && exitCode_ == -1) {
        Unplug();
    }
}

bool UsbMouseProcess::Start() {
    std::vector<std::string> command{VRAX_USB_MOUSE_PROGRAM, "--dump",
                                     (folder_ / "dump.bin").string(), "--name", serial_};
    command.insert(command.end(), arguments_.begin(), arguments_.end());
    pid_ = Spawn(folder_, "mouse", command);
    return pid_ > 0;
}

bool UsbMouseProcess::WaitForNodes() {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        if (static_cast<int>(HidrawNodesOfSerial(serial_).size()) == interfaces_) {
            return true;
        }
        if (pid_ < 0 || waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool UsbMouseProcess::WaitForExit(std::chrono::seconds timeout) {
    if (pid_ < 0) {
        return false;
    }
    exitCode_ = WaitFor(pid_, Clock::now() + timeout);
    if (exitCode_ == -2) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    return exitCode_ == 0;
}

bool UsbMouseProcess::Unplug() {
    if (pid_ < 0) {
        return false;
    }
    kill(pid_, SIGTERM);
    const bool ended = WaitForExit(std::chrono::seconds(20));
    return NodesGone(std::chrono::seconds(20)) && ended;
}

bool UsbMouseProcess::NodesGone(std::chrono::seconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    while (!HidrawNodesOfSerial(serial_).empty()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

VirtualMouse::MemoryImage UsbMouseProcess::Dump() const {
    VirtualMouse::MemoryImage memory{};
    std::ifstream(folder_ / "dump.bin", std::ios::binary)
        .read(reinterpret_cast<char*>(memory.data()), memory.size());
    return memory;
}

std::string UsbMouseProcess::Output() const {
    return Slurp(folder_ / "mouse.out") + Slurp(folder_ / "mouse.err");
}

} // namespace vrax::testing
