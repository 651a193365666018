#include "device/linux/ReportDescriptor.h"
#include "tests/hidraw/Descriptors.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace vrax::test {
namespace {

ReportDescriptorInfo Parse(const Bytes& descriptor) {
    // An exactly sized copy, so a read past the end lands outside the allocation.
    auto copy = std::make_unique<std::uint8_t[]>(descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), copy.get());
    return ParseReportDescriptor(copy.get(), descriptor.size());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Bytes OpenCollection = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
const Bytes CloseCollection = {0xC0};

TEST(ReportDescriptor, LengthIsTheLargestFeatureReportPlusTheReportIdByte) {
    const ReportDescriptorInfo mouse = Parse(Kvqm31xMouseDescriptor);
    EXPECT_TRUE(mouse.wellFormed);
    EXPECT_TRUE(mouse.usesReportIds);
    EXPECT_EQ(mouse.featureReportLength, 8);
    EXPECT_EQ(Parse(Kvqm42xxMouseDescriptor).featureReportLength, 8);

    const ReportDescriptorInfo keyboard = Parse(KeyboardDescriptor);
    EXPECT_TRUE(keyboard.wellFormed);
    EXPECT_EQ(keyboard.featureReportLength, 0);

    // Without report IDs the transfer still starts with a zero ID byte.
    const ReportDescriptorInfo noIds = Parse(NoReportIdDescriptor);
    EXPECT_TRUE(noIds.wellFormed);
    EXPECT_FALSE(noIds.usesReportIds);
    EXPECT_EQ(noIds.largestFeatureReportBytes, 7u);
    EXPECT_EQ(noIds.featureReportLength, 8);

    // Report 5 adds up to 3 bytes and 3 bits, rounded up to 4; report 6 is 2 bytes.
    const Bytes mixed = Concat(
        {OpenCollection,
         {0x85, 0x05, 0x75, 0x08, 0x95, 0x03, 0xB1, 0x02, 0x75, 0x01, 0x95, 0x03, 0xB1, 0x02, 0x85,
          0x06, 0x75, 0x10, 0x95, 0x01, 0xB1, 0x02, 0x85, 0x07, 0x75, 0x08, 0x95, 0x20, 0x81, 0x02},
         CloseCollection});
    EXPECT_EQ(Parse(mixed).featureReportLength, 5);
}

TEST(ReportDescriptor, EachTopLevelCollectionHasItsOwnLengthAndReports) {
    auto lengths = [](const ReportDescriptorInfo& info) {
        std::vector<int> all;
        for (const CollectionFeatures& collection : info.topLevelCollections) {
            all.push_back(collection.featureReportLength);
        }
        return all;
    };
    const ReportDescriptorInfo two = Parse(CompositeKvqm31xDescriptor);
    ASSERT_TRUE(two.wellFormed);
    EXPECT_EQ(two.featureReportLength, 16);
    EXPECT_EQ(lengths(two), (std::vector<int>{16, 8}));
    EXPECT_EQ(two.topLevelCollections[0].featureReportIds, Bytes{5});
    EXPECT_EQ(two.topLevelCollections[1].featureReportIds, Bytes{4});

    const ReportDescriptorInfo three = Parse(CompositeKvqm42xxDescriptor);
    ASSERT_TRUE(three.wellFormed);
    EXPECT_EQ(lengths(three), (std::vector<int>{0, 16, 8}));
    EXPECT_TRUE(three.topLevelCollections[0].featureReportIds.empty());
    EXPECT_EQ(three.topLevelCollections[2].featureReportIds, (Bytes{0x40, 0x41}));

    // A nested collection belongs to its top-level one.
    EXPECT_EQ(lengths(Parse(Kvqm31xMouseDescriptor)), (std::vector<int>{0, 8}));
    EXPECT_EQ(Parse(NoReportIdDescriptor).topLevelCollections.at(0).featureReportIds, Bytes{0});
}

TEST(ReportDescriptor, PushAndPopRestoreGlobalsAndLongItemsAreSkipped) {
    // Push holds report 4 of 8-bit fields; report 9 declares 60 bytes; pop returns to report 4
    // for one more byte, so report 9 stays the largest.
    const Bytes pushPop = Concat({OpenCollection,
                                  {0x85, 0x04, 0x75, 0x08, 0x95, 0x01, 0xA4, 0x85, 0x09, 0x95, 0x3C,
                                   0xB1, 0x02, 0xB4, 0xB1, 0x02, 0xB1, 0x02},
                                  {0xFE, 0x04, 0x10, 0x95, 0x7F, 0xB1, 0x02},
                                  CloseCollection});
    const ReportDescriptorInfo info = Parse(pushPop);
    EXPECT_TRUE(info.wellFormed);
    EXPECT_EQ(info.featureReportLength, 61);

    Bytes report4Only = pushPop;
    report4Only[17] = 0x01;
    EXPECT_EQ(Parse(report4Only).featureReportLength, 3);
}

TEST(ReportDescriptor, MalformedDescriptorsGiveNoLength) {
    for (std::size_t size = 0; size < Kvqm31xMouseDescriptor.size(); ++size) {
        const Bytes prefix(Kvqm31xMouseDescriptor.begin(),
                           Kvqm31xMouseDescriptor.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(Parse(prefix).featureReportLength, 0) << size;
    }
    const std::vector<Bytes> malformed = {
        Concat({OpenCollection, {0x95, 0x07, 0x75}}), // item data cut off
        {0xFE, 0x08, 0x00, 0x01, 0x02},               // long item cut off
        {0xFE},                                       // long item header cut off
        {0xB4},                                       // pop without push
        {0xC0},                                       // collection never opened
        Concat({OpenCollection, {0x85, 0x00, 0xB1, 0x02}, CloseCollection}), // report ID 0
        Concat({OpenCollection, {0x86, 0x00, 0x01}, CloseCollection}),       // report ID 256
        Concat({OpenCollection, {0x97, 0xFF, 0xFF, 0xFF, 0xFF}, CloseCollection}),
        Concat({OpenCollection, {0x77, 0x00, 0x00, 0x01, 0x00}, CloseCollection}),
        Bytes(17, 0xA4), // pushes beyond the stack
    };
    for (const Bytes& descriptor : malformed) {
        const ReportDescriptorInfo info = Parse(descriptor);
        EXPECT_FALSE(info.wellFormed);
        EXPECT_EQ(info.featureReportLength, 0);
    }

    // Fields of 256 x 256 bits stay within every single-item limit but soon add up to more
    // than the kernel's 16 KiB report.
    Bytes huge = Concat({OpenCollection, {0x85, 0x01, 0x76, 0x00, 0x01, 0x96, 0x00, 0x01}});
    for (int i = 0; i < 64; ++i) {
        huge.insert(huge.end(), {0xB1, 0x02});
    }
    huge.push_back(0xC0);
    EXPECT_FALSE(Parse(huge).wellFormed);
    EXPECT_TRUE(Parse(Bytes(16, 0xA4)).wellFormed);
    EXPECT_FALSE(ParseReportDescriptor(nullptr, 4).wellFormed);
}

} // namespace
} // namespace vrax::test
