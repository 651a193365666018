#include "MouseLinks.h"

namespace vrax {

MouseLinks::MouseLinks(HidPlatform& platform, Clock& clock, LinkProgress& progress) {
    std::map<MouseLinkFactory, MouseLink*> made;
    for (const MouseType* type : KnownMouseTypes()) {
        MouseLink*& link = made[type->makeLink];
        if (link == nullptr) {
            links_.push_back(type->makeLink(platform, clock, progress));
            link = links_.back().get();
        }
        byIcType_[type->icType] = link;
    }
}

MouseLinks::~MouseLinks() {
    while (!links_.empty()) {
        links_.pop_back();
    }
}

MouseLink* MouseLinks::For(int icType) const {
    const auto found = byIcType_.find(icType);
    return found == byIcType_.end() ? nullptr : found->second;
}

bool MouseLinks::Open(int icType, int vendorId, int productId) {
    const MouseType* type = FindMouseType(icType);
    MouseLink* link = For(icType);
    return type != nullptr && link != nullptr && link->OpenMouse(*type, vendorId, productId);
}

void MouseLinks::ForgetAll() {
    for (const auto& link : links_) {
        link->Forget();
    }
}

bool MouseLinks::AnyOpen() const {
    for (const auto& link : links_) {
        if (link->IsOpen()) {
            return true;
        }
    }
    return false;
}

const std::string& MouseLinks::LastTransferError() const {
    for (const auto& link : links_) {
        if (!link->LastTransferError().empty()) {
            return link->LastTransferError();
        }
    }
    static const std::string none;
    return none;
}

void MouseLinks::ClearTransferErrors() {
    for (const auto& link : links_) {
        link->ClearTransferError();
    }
}

} // namespace vrax
