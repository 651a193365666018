#include "device/RememberingHidPlatform.h"

namespace vrax {

RememberingHidPlatform::Opened RememberingHidPlatform::Find(HidHandle handle) const {
    std::lock_guard lock(mutex_);
    const auto found = opened_.find(handle);
    return found == opened_.end() ? Opened{} : found->second;
}

HidHandle RememberingHidPlatform::Open(const std::string& path) {
    const HidHandle handle = inner_.Open(path);
    if (handle != InvalidHandle) {
        std::lock_guard lock(mutex_);
        opened_[handle] = Opened{path, {}};
    }
    return handle;
}

void RememberingHidPlatform::Close(HidHandle handle) {
    inner_.Close(handle);
    std::lock_guard lock(mutex_);
    opened_.erase(handle);
}

bool RememberingHidPlatform::GetAttributes(HidHandle handle, HidAttributes& attributes) {
    const bool known = inner_.GetAttributes(handle, attributes);
    if (known) {
        std::lock_guard lock(mutex_);
        const auto found = opened_.find(handle);
        if (found != opened_.end()) {
            found->second.attributes = attributes;
        }
    }
    return known;
}

} // namespace vrax
