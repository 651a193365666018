#pragma once

#include "device/ForwardingHidPlatform.h"

#include <algorithm>
#include <string>
#include <vector>

namespace vrax {

// One mouse's share of the devices: only the interfaces of its own arrival are there, so its
// links open that mouse and no other, whatever else is plugged in.
class OneMousePlatform final : public ForwardingHidPlatform {
public:
    OneMousePlatform(HidPlatform& inner, std::vector<std::string> paths)
        : ForwardingHidPlatform(inner), paths_(std::move(paths)) {}

    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::string> present;
        for (const std::string& path : inner_.EnumerateInterfaces()) {
            if (std::find(paths_.begin(), paths_.end(), path) != paths_.end()) {
                present.push_back(path);
            }
        }
        return present;
    }
    // The notice is the line's to give once, not each mouse's.
    std::string TakeOperatorNotice() override { return {}; }

private:
    std::vector<std::string> paths_;
};

} // namespace vrax
