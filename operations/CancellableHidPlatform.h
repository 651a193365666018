#pragma once

#include "device/ForwardingHidPlatform.h"

#include <atomic>
#include <string>

namespace vrax {

// A job's way to its mouse that a jig can cut: once cancelled, every transfer fails at once,
// so the job stops at its next chunk and ends as a failed one does, never as a pass.
class CancellableHidPlatform final : public ForwardingHidPlatform {
public:
    static constexpr const char* CancelledText = "Cancelled by the jig";

    CancellableHidPlatform(HidPlatform& inner, const std::atomic<bool>& cancelled)
        : ForwardingHidPlatform(inner), cancelled_(cancelled) {}

    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override {
        return !cancelled_ && inner_.SetFeature(handle, buffer, length);
    }
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override {
        return !cancelled_ && inner_.GetFeature(handle, buffer, length);
    }
    std::string LastTransferError() override {
        return cancelled_ ? CancelledText : inner_.LastTransferError();
    }

private:
    const std::atomic<bool>& cancelled_;
};

} // namespace vrax
