#include "device/linux/ReportDescriptor.h"

#include <cstdint>
#include <cstdlib>

// Any crash, sanitizer report or abort here is a finding.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vrax::ReportDescriptorInfo info = vrax::ParseReportDescriptor(data, size);
    if (!info.wellFormed) {
        if (info.featureReportLength != 0 || info.largestFeatureReportBytes != 0 ||
            info.usesReportIds) {
            std::abort();
        }
        return 0;
    }
    const std::uint32_t expected =
        info.largestFeatureReportBytes == 0 ? 0 : info.largestFeatureReportBytes + 1;
    if (info.featureReportLength != expected || info.featureReportLength > 16384) {
        std::abort();
    }
    // Dropping the last byte removes at most whole items, so a report can only shrink.
    if (size > 0) {
        const vrax::ReportDescriptorInfo shorter = vrax::ParseReportDescriptor(data, size - 1);
        if (shorter.featureReportLength > info.featureReportLength) {
            std::abort();
        }
    }
    return 0;
}
