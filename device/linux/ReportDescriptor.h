#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vrax {

// Windows gives every top-level collection a path of its own, with its own capabilities.
struct CollectionFeatures {
    // FeatureReportByteLength of this collection alone, report ID byte included; 0 when it
    // declares no feature report.
    std::uint16_t featureReportLength = 0;
    // The IDs of its feature reports; 0 stands for a descriptor without report IDs.
    std::vector<std::uint8_t> featureReportIds;
};

struct ReportDescriptorInfo {
    // False when the descriptor ends inside an item, nests push/pop or collections wrongly, or
    // declares sizes beyond what the kernel accepts; the other fields are then zero.
    bool wellFormed = false;
    bool usesReportIds = false;
    // Data bits of the largest feature report, rounded up to whole bytes.
    std::uint32_t largestFeatureReportBytes = 0;
    // The buffer length a feature transfer needs, report ID byte included, as the Windows
    // capabilities give it; 0 when the descriptor declares no feature report.
    std::uint16_t featureReportLength = 0;
    // In descriptor order.
    std::vector<CollectionFeatures> topLevelCollections;
};

// Reads only the feature report sizes of a HID report descriptor: global items (report size,
// count and ID, push and pop), main items and collections. Local items and long items are
// skipped. Never reads outside [data, data + size).
ReportDescriptorInfo ParseReportDescriptor(const std::uint8_t* data, std::size_t size);

} // namespace vrax
