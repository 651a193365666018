#include "records/ImageApprovalCheck.h"

#include "device/HexText.h"
#include "records/Sha256.h"

#include <exception>

namespace vrax {

void ImageApprovalCheck::Require(const ImageBuffer& image, StationSettings& settings,
                                 const std::string& imageFile) {
    std::optional<int> productType;
    std::exception_ptr typeError;
    try {
        productType = settings.FactoryType() & 0xFFFF;
    } catch (const StationError&) {
        typeError = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    const bool same = allowed_ && allowed_->productType == productType && allowed_->image == image;
    if (same && now - allowed_->readAt < RereadAfter) {
        return;
    }
    std::vector<ImageApproval> approvals;
    try {
        // Without a product type: whether any is restricted at all.
        approvals = records_.FindApprovals(productType);
    } catch (const RecordsError&) {
        // A store out of reach does not undo what it said about this very image.
        if (same) {
            return;
        }
        throw;
    }
    if (approvals.empty()) {
        allowed_ = Allowed{productType, image, now};
        return;
    }
    if (typeError) {
        allowed_.reset();
        std::rethrow_exception(typeError);
    }
    const std::string sha256 = Sha256Hex(image.data(), image.size());
    for (const ImageApproval& approval : approvals) {
        if (approval.imageSha256 == sha256) {
            allowed_ = Allowed{productType, image, now};
            return;
        }
    }
    allowed_.reset();
    const std::string type = HexText(static_cast<unsigned>(*productType), 4);
    throw RecordsError(
        "Image \"" + imageFile + "\" (SHA-256 " + sha256 + ") is not approved for product type " +
        type + "; nothing was written. The records approve " + std::to_string(approvals.size()) +
        (approvals.size() == 1 ? " image" : " images") + " for it (records approvals --product " +
        type + ").");
}

} // namespace vrax
