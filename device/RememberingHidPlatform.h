#pragma once

#include "device/ForwardingHidPlatform.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace vrax {

// Passes every call through and remembers, per open handle, the path it was opened by and the
// attributes last read through it, so a record can name the mouse without asking it again.
class RememberingHidPlatform final : public ForwardingHidPlatform {
public:
    explicit RememberingHidPlatform(HidPlatform& inner) : ForwardingHidPlatform(inner) {}

    struct Opened {
        std::string path;
        HidAttributes attributes{};
    };
    // Empty path when the handle is not open.
    Opened Find(HidHandle handle) const;

    // Feature reports sent and asked for so far: whether an operation reached a mouse.
    long Transfers() const { return transfers_; }

    HidHandle Open(const std::string& path) override;
    void Close(HidHandle handle) override;
    bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override {
        ++transfers_;
        return inner_.SetFeature(handle, buffer, length);
    }
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override {
        ++transfers_;
        return inner_.GetFeature(handle, buffer, length);
    }

private:
    mutable std::mutex mutex_;
    std::map<HidHandle, Opened> opened_;
    std::atomic<long> transfers_{0};
};

} // namespace vrax
