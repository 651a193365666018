#pragma once

#include "programming/StationSettings.h"
#include "programming/StationState.h"
#include "records/ProductionRecords.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

namespace vrax {

// Lets a write job through when its image is approved for the station's product type (the
// factory fields' Type), or when the records approve no image for that product type.
//
// The store is asked once for the image and product type of the write it last let through,
// and again after a minute, so an approval given for the product type meanwhile (another
// station's, the approver's) takes effect during a shift; a refused image is asked about at
// every try. Every other write costs a comparison. Safe to share between threads.
class ImageApprovalCheck {
public:
    static constexpr std::chrono::seconds RereadAfter{60};

    explicit ImageApprovalCheck(ImageApprovals& records) : records_(records) {}
    ImageApprovalCheck(const ImageApprovalCheck&) = delete;
    ImageApprovalCheck& operator=(const ImageApprovalCheck&) = delete;

    // Throws RecordsError naming the file, its SHA-256 and the product type when the image is
    // not approved; nothing may be written then. A Type field that does not convert throws
    // its ConversionError only when the records approve images for some product type.
    void Require(const ImageBuffer& image, StationSettings& settings, const std::string& imageFile);

private:
    struct Allowed {
        std::optional<int> productType;
        ImageBuffer image;
        std::chrono::steady_clock::time_point readAt;
    };

    ImageApprovals& records_;
    std::mutex mutex_;
    std::optional<Allowed> allowed_;
};

} // namespace vrax
