#pragma once

#include "records/ProductionRecords.h"

#include <string>
#include <vector>

namespace vrax {

inline constexpr const char* ApprovalsCsvHeader =
    "product_type,image_sha256,image_file,approver,time";

// The approved images, one line each, the product type in four hex digits and the whole hash:
// an operator compares it with the one a refused write names.
std::vector<std::string> ApprovalsTable(const std::vector<ImageApproval>& approvals);
std::vector<std::string> ApprovalsCsv(const std::vector<ImageApproval>& approvals);

// "Approved for product type 0005: FILE (SHA-256 ...) by user@host on TIME".
std::string ApprovalText(const ImageApproval& approval);

} // namespace vrax
