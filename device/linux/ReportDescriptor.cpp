#include "device/linux/ReportDescriptor.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vrax {
namespace {

enum ItemType : std::uint8_t { MainItem = 0, GlobalItem = 1, LocalItem = 2, ReservedItem = 3 };

enum MainTag : std::uint8_t { FeatureTag = 0xB, CollectionTag = 0xA, EndCollectionTag = 0xC };

enum GlobalTag : std::uint8_t {
    ReportSizeTag = 0x7,
    ReportIdTag = 0x8,
    ReportCountTag = 0x9,
    PushTag = 0xA,
    PopTag = 0xB,
};

constexpr std::uint8_t LongItemPrefix = 0xFE;
constexpr std::size_t LongItemHeaderSize = 3;

// The kernel's own limits; a descriptor beyond them never gets a hidraw node.
constexpr std::uint32_t MaxReportSizeBits = 256;
constexpr std::uint32_t MaxReportCount = 12288;
constexpr std::uint64_t MaxReportBits = (16384 - 1) * 8;
constexpr std::size_t MaxPushDepth = 16;
constexpr std::size_t ReportIdCount = 256;

std::uint16_t TransferLength(std::uint64_t bits) {
    // The transfer buffer always starts with the report ID byte, 0 for a descriptor without
    // IDs: Windows counts it in the capabilities and hidraw expects it too.
    return bits == 0 ? 0 : static_cast<std::uint16_t>((bits + 7) / 8 + 1);
}

CollectionFeatures SummarizeCollection(const std::array<std::uint64_t, ReportIdCount>& bits) {
    CollectionFeatures collection;
    for (std::size_t id = 0; id < bits.size(); ++id) {
        if (bits[id] != 0) {
            collection.featureReportIds.push_back(static_cast<std::uint8_t>(id));
            collection.featureReportLength =
                std::max(collection.featureReportLength, TransferLength(bits[id]));
        }
    }
    return collection;
}

struct GlobalState {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

} // namespace

ReportDescriptorInfo ParseReportDescriptor(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr && size != 0) {
        return {};
    }
    std::array<std::uint64_t, ReportIdCount> featureBits{};
    // Only one top-level collection is open at a time.
    std::array<std::uint64_t, ReportIdCount> collectionBits{};
    std::vector<CollectionFeatures> topLevelCollections;
    std::array<GlobalState, MaxPushDepth> pushed{};
    std::size_t pushDepth = 0;
    std::size_t collectionDepth = 0;
    GlobalState global;
    bool usesReportIds = false;

    std::size_t position = 0;
    while (position < size) {
        const std::uint8_t prefix = data[position];
        const std::size_t remaining = size - position - 1;
        if (prefix == LongItemPrefix) {
            // No long item tag is defined; only its length matters.
            if (remaining < LongItemHeaderSize - 1) {
                return {};
            }
            const std::size_t longDataSize = data[position + 1];
            if (remaining - (LongItemHeaderSize - 1) < longDataSize) {
                return {};
            }
            position += LongItemHeaderSize + longDataSize;
            continue;
        }
        const std::size_t dataSize = (prefix & 0x3) == 0x3 ? 4 : (prefix & 0x3);
        if (remaining < dataSize) {
            return {};
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < dataSize; ++i) {
            value |= static_cast<std::uint32_t>(data[position + 1 + i]) << (8 * i);
        }
        position += 1 + dataSize;

        const auto type = static_cast<std::uint8_t>((prefix >> 2) & 0x3);
        const auto tag = static_cast<std::uint8_t>(prefix >> 4);
        if (type == MainItem) {
            if (tag == FeatureTag) {
                std::uint64_t& bits = featureBits[global.reportId];
                bits += static_cast<std::uint64_t>(global.reportSize) * global.reportCount;
                if (bits > MaxReportBits) {
                    return {};
                }
                if (collectionDepth > 0) {
                    collectionBits[global.reportId] +=
                        static_cast<std::uint64_t>(global.reportSize) * global.reportCount;
                }
            } else if (tag == CollectionTag) {
                if (collectionDepth == 0) {
                    collectionBits.fill(0);
                }
                ++collectionDepth;
            } else if (tag == EndCollectionTag) {
                if (collectionDepth == 0) {
                    return {};
                }
                if (--collectionDepth == 0) {
                    topLevelCollections.push_back(SummarizeCollection(collectionBits));
                }
            }
        } else if (type == GlobalItem) {
            switch (tag) {
            case ReportSizeTag:
                if (value > MaxReportSizeBits) {
                    return {};
                }
                global.reportSize = value;
                break;
            case ReportCountTag:
                if (value > MaxReportCount) {
                    return {};
                }
                global.reportCount = value;
                break;
            case ReportIdTag:
                if (value == 0 || value >= ReportIdCount) {
                    return {};
                }
                global.reportId = value;
                usesReportIds = true;
                break;
            case PushTag:
                if (pushDepth == MaxPushDepth) {
                    return {};
                }
                pushed[pushDepth++] = global;
                break;
            case PopTag:
                if (pushDepth == 0) {
                    return {};
                }
                global = pushed[--pushDepth];
                break;
            default:
                break;
            }
        }
        // Local items name usages; they never change how long a report is.
    }
    if (collectionDepth != 0) {
        return {};
    }

    ReportDescriptorInfo info;
    info.wellFormed = true;
    info.usesReportIds = usesReportIds;
    const std::uint64_t largestBits = *std::max_element(featureBits.begin(), featureBits.end());
    info.largestFeatureReportBytes = static_cast<std::uint32_t>((largestBits + 7) / 8);
    info.featureReportLength = TransferLength(largestBits);
    info.topLevelCollections = std::move(topLevelCollections);
    return info;
}

} // namespace vrax
