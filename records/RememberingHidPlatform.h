#pragma once

#include "device/HidPlatform.h"

#include <map>
#include <mutex>
#include <string>

namespace vrax {

// Passes every call through and remembers, per open handle, the path it was opened by and the
// attributes last read through it, so a record can name the mouse without asking it again.
class RememberingHidPlatform final : public HidPlatform {
public:
    explicit RememberingHidPlatform(HidPlatform& inner) : inner_(inner) {}

    struct Opened {
        std::string path;
        HidAttributes attributes{};
    };
    // Empty path when the handle is not open.
    Opened Find(HidHandle handle) const;

    std::vector<std::string> EnumerateInterfaces() override { return inner_.EnumerateInterfaces(); }
    HidHandle Open(const std::string& path) override;
    void Close(HidHandle handle) override;
    bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
    std::uint16_t GetFeatureReportLength(HidHandle handle) override {
        return inner_.GetFeatureReportLength(handle);
    }
    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override {
        return inner_.SetFeature(handle, buffer, length);
    }
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override {
        return inner_.GetFeature(handle, buffer, length);
    }
    std::string TakeOperatorNotice() override { return inner_.TakeOperatorNotice(); }

private:
    HidPlatform& inner_;
    mutable std::mutex mutex_;
    std::map<HidHandle, Opened> opened_;
};

} // namespace vrax
