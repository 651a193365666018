#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"
#include "sim/gadget/ConfigfsGadget.h"
#include "sim/gadget/FunctionFsMouse.h"
#include "sim/gadget/GadgetOptions.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<bool> cablePullRequested{false};

void OnStop(int) {
    stopRequested = true;
}

void OnPullCable(int) {
    cablePullRequested = true;
}

void Install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    // No SA_RESTART: the wait on ep0 must return to see the request.
    sigaction(signal, &action, nullptr);
}

std::unique_ptr<vrax::VirtualMouse> MakeMouse(const vrax::GadgetOptions& options) {
    std::unique_ptr<vrax::VirtualMouse> mouse;
    if (options.family == vrax::MouseFamily::Kvqm31x) {
        mouse = std::make_unique<vrax::VirtualMouse31x>();
    } else {
        mouse = std::make_unique<vrax::VirtualMouse42xx>(
            options.variant == vrax::GadgetVariant::TwoInterfaces
                ? vrax::VirtualMouse42xx::Layout::TwoInterfaces
                : vrax::VirtualMouse42xx::Layout::OneInterface);
    }
    if (options.ids) {
        mouse->SetAttributes(*options.ids);
    }
    mouse->SetFaults(options.faults);
    if (!options.memoryFile.empty()) {
        std::ifstream in(options.memoryFile, std::ios::binary);
        auto& memory = mouse->Memory();
        in.read(reinterpret_cast<char*>(memory.data()), vrax::VirtualMouse::MemorySize);
        if (in.gcount() != vrax::VirtualMouse::MemorySize || in.peek() != EOF) {
            throw std::invalid_argument(options.memoryFile + " is not a 2048-byte file");
        }
    }
    return mouse;
}

void Dump(const vrax::VirtualMouse& mouse, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(mouse.Memory().data()), vrax::VirtualMouse::MemorySize);
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace

int main(int argc, char** argv) {
    vrax::GadgetOptions options;
    try {
        options = vrax::ParseGadgetOptions(argc, argv);
    } catch (const std::invalid_argument& error) {
        std::cerr << "vrax-usb-mouse: " << error.what() << "\n\n" << vrax::GadgetUsage;
        return 2;
    }
    Install(SIGTERM, OnStop);
    Install(SIGINT, OnStop);
    Install(SIGUSR1, OnPullCable);
    try {
        const auto mouse = MakeMouse(options);
        bool served = false;
        {
            vrax::ConfigfsGadget gadget(options.configfs, options.name, mouse->Attributes());
            vrax::FunctionFsMouse endpoint(
                gadget.FunctionFs(), *mouse,
                vrax::ReportDescriptors(options.family, options.variant));
            gadget.Plug(options.udc);
            std::cout << "plugged " << options.familyName << " on " << gadget.Controller()
                      << std::endl;
            std::thread cable;
            // The unplug runs beside the loop: the controller may still want ep0 answered
            // while it tears the function down.
            served = endpoint.Serve(stopRequested, cablePullRequested, options.unplugAtTransfer,
                                    [&] { cable = std::thread([&] { gadget.Unplug(); }); });
            if (cable.joinable()) {
                cable.join();
                std::cout << "cable pulled at feature transfer " << endpoint.FeatureTransfers()
                          << std::endl;
            }
            gadget.Unplug();
        }
        if (!options.dumpFile.empty()) {
            Dump(*mouse, options.dumpFile);
        }
        return served ? 0 : 1;
    } catch (const std::exception& error) {
        std::cerr << "vrax-usb-mouse: " << error.what() << "\n";
        return 1;
    }
}
