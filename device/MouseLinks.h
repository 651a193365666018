#pragma once

#include "MouseLink.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vrax {

// A station's links, one per family, made by the rows of the type table (and the registered
// types) known when the station is made. Belongs to the station's job thread, as its links do.
class MouseLinks {
public:
    MouseLinks(HidPlatform& platform, Clock& clock, LinkProgress& progress);
    // Closes the last made first.
    ~MouseLinks();
    MouseLinks(const MouseLinks&) = delete;
    MouseLinks& operator=(const MouseLinks&) = delete;

    // The link of an IC type's family; nullptr for an item no type has.
    MouseLink* For(int icType) const;
    // Opens the mouse of the IC type's family as the polling does; false for an item outside
    // the type list.
    bool Open(int icType, int vendorId, int productId);
    void ForgetAll();
    bool AnyOpen() const;

    // The reason of the last failed transfer, the first family's that has one; empty when none.
    const std::string& LastTransferError() const;
    void ClearTransferErrors();

private:
    std::vector<std::unique_ptr<MouseLink>> links_;
    std::map<int, MouseLink*> byIcType_;
};

} // namespace vrax
