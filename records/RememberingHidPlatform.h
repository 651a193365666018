#pragma once

#include "records/ForwardingHidPlatform.h"

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

    HidHandle Open(const std::string& path) override;
    void Close(HidHandle handle) override;
    bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;

private:
    mutable std::mutex mutex_;
    std::map<HidHandle, Opened> opened_;
};

} // namespace vrax
