#pragma once

#include "sim/VirtualMouse.h"
#include "sim/gadget/MouseDescriptors.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <vector>

namespace vrax {

// The control endpoint of a FunctionFS function, answered by a virtual mouse: the HID
// descriptors, idle and protocol requests, and feature reports handed to the model as the
// simulated bus hands them. Everything else is stalled.
class FunctionFsMouse {
public:
    FunctionFsMouse(const std::filesystem::path& functionFs, VirtualMouse& mouse,
                    std::vector<Bytes> reportDescriptors);
    ~FunctionFsMouse();
    FunctionFsMouse(const FunctionFsMouse&) = delete;
    FunctionFsMouse& operator=(const FunctionFsMouse&) = delete;

    // Answers requests until stop is set (a signal interrupts the wait) or until pullCable
    // is set when a feature report transfer begins: that transfer is left unanswered and
    // unplug is called, as a cable pulled in the middle of it. Transfer unplugAt does the
    // same. Returns false when ep0 fails.
    bool Serve(const std::atomic<bool>& stop, std::atomic<bool>& pullCable, int unplugAt,
               const std::function<void()>& unplug);

    int FeatureTransfers() const { return transfers_; }

private:
    bool Answer(const void* request);
    void Stall(bool hostReads);

    int ep0_ = -1;
    VirtualMouse& mouse_;
    std::vector<Bytes> reportDescriptors_;
    std::vector<std::vector<std::uint8_t>> featureIds_; // per interface
    int transfers_ = 0;
};

} // namespace vrax
