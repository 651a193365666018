#include "records/reports/ApprovalsReport.h"

#include "device/HexText.h"
#include "records/reports/RecordsReport.h"

namespace vrax {

namespace {

std::vector<std::string> Fields(const ImageApproval& approval) {
    return {HexText(static_cast<unsigned>(approval.productType), 4), approval.imageSha256,
            approval.imageFile, approval.approver, approval.time};
}

} // namespace

std::vector<std::string> ApprovalsTable(const std::vector<ImageApproval>& approvals) {
    std::vector<std::vector<std::string>> rows{
        {"product_type", "image_sha256", "image_file", "approver", "time"}};
    for (const ImageApproval& approval : approvals) {
        rows.push_back(Fields(approval));
    }
    std::vector<std::string> lines = AlignedTable(rows);
    lines.push_back(std::to_string(approvals.size()) +
                    (approvals.size() == 1 ? " approval" : " approvals"));
    return lines;
}

std::vector<std::string> ApprovalsCsv(const std::vector<ImageApproval>& approvals) {
    std::vector<std::string> lines{ApprovalsCsvHeader};
    for (const ImageApproval& approval : approvals) {
        std::string line;
        for (const std::string& field : Fields(approval)) {
            line += (line.empty() ? "" : ",") + CsvField(field);
        }
        lines.push_back(line);
    }
    return lines;
}

std::string ApprovalText(const ImageApproval& approval) {
    return "Approved for product type " + HexText(static_cast<unsigned>(approval.productType), 4) +
           ": " + approval.imageFile + " (SHA-256 " + approval.imageSha256 + ") by " +
           approval.approver + " on " + approval.time;
}

} // namespace vrax
