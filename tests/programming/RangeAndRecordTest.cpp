#include "programming/DataFormat.h"
#include "programming/FactoryRecord.h"
#include "programming/SaveJob.h"
#include "programming/StationError.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>
#include <vector>

namespace vrax {
namespace {

using Ranges = std::vector<std::pair<int, int>>;

Ranges ReadRanges(const std::string& text) {
    Ranges ranges;
    ForEachCustomRange(text, [&](int start, int end) {
        ranges.emplace_back(start, end);
        return true;
    });
    return ranges;
}

std::string ErrorOf(const std::string& text) {
    try {
        ReadRanges(text);
    } catch (const StationError& error) {
        return error.what();
    }
    return "no error";
}

TEST(CustomRangeTest, ReadsItemsByTheStartNumbersWidthAndIgnoresTextAfterTheLastSeparator) {
    EXPECT_EQ(ReadRanges("000-256;1280-1536;"), (Ranges{{0, 256}, {1280, 1536}}));
    EXPECT_EQ(ReadRanges("0-256;"), (Ranges{{0, 6}}));
    EXPECT_EQ(ReadRanges("000-2048;"), (Ranges{{0, 48}}));
    EXPECT_EQ(ReadRanges("0000-2048;"), (Ranges{{0, 2048}}));
    EXPECT_EQ(ReadRanges("000-256;1280-1536"), (Ranges{{0, 256}}));
    EXPECT_EQ(ReadRanges(""), Ranges{});
    EXPECT_EQ(ReadRanges("no separator"), Ranges{});
}

TEST(CustomRangeTest, TextsThatDoNotConvertNameTheOffendingText) {
    EXPECT_EQ(ErrorOf("256;"), "'' is not a valid integer value");
    EXPECT_EQ(ErrorOf("abc-def;"), "'abc' is not a valid integer value");
    EXPECT_EQ(ErrorOf("1000-5;"), "'00-5' is not a valid integer value");
    EXPECT_EQ(ErrorOf("-5;"), "'' is not a valid integer value");
}

TEST(CustomRangeTest, RangesOutsideTheImageStopWithAnErrorNamingTheItemBeforeAnyHandling) {
    for (const std::string item : {"100-050;", "100-100;", "2000-3000;", "10--5;"}) {
        const std::string message = ErrorOf(item);
        EXPECT_NE(message.find("\"" + item + "\""), std::string::npos) << message;
    }
    // Items before a bad one are handed on; the bad one is not.
    Ranges seen;
    EXPECT_THROW(ForEachCustomRange("000-010;0000-4096;",
                                    [&](int start, int end) {
                                        seen.emplace_back(start, end);
                                        return true;
                                    }),
                 StationError);
    EXPECT_EQ(seen, (Ranges{{0, 10}}));
    // A handler that stops ends the reading before later items are even converted.
    seen.clear();
    ForEachCustomRange("000-010;abc-def;", [&](int start, int end) {
        seen.emplace_back(start, end);
        return false;
    });
    EXPECT_EQ(seen, (Ranges{{0, 10}}));
}

TEST(NumberConversionTest, DecimalAndHexadecimalFollowTheFieldRules) {
    EXPECT_EQ(ConvertDecimal("0100"), 100);
    EXPECT_EQ(ConvertDecimal("-12"), -12);
    EXPECT_EQ(ConvertDecimal("2147483647"), 2147483647);
    EXPECT_THROW(ConvertDecimal("2147483648"), ConversionError);
    EXPECT_THROW(ConvertDecimal("0-5"), ConversionError);
    EXPECT_THROW(ConvertDecimal(" 5"), ConversionError);

    EXPECT_EQ(ConvertHexadecimal("00ff"), 255);
    EXPECT_EQ(ConvertHexadecimal("00FF"), 255);
    EXPECT_EQ(ConvertHexadecimal(""), 0);
    EXPECT_EQ(ConvertHexadecimal("FFFFFFFF"), -1);
    EXPECT_EQ(ConvertHexadecimal("000080000000"), static_cast<int>(0x80000000u));
    try {
        ConvertHexadecimal("1G");
        ADD_FAILURE() << "1G converted";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'$01G' is not a valid integer value");
    }
    EXPECT_THROW(ConvertHexadecimal("100000000"), ConversionError);
}

TEST(FactoryRecordTest, BuildsBigEndianFieldsAndListPositionsAndDecodesThemBack) {
    const FactoryRecordBytes defaults = BuildFactoryRecord(0x0005, 0x20200527, 1, 0, 0, 0);
    EXPECT_EQ(defaults, (FactoryRecordBytes{0x00, 0x05, 0x20, 0x20, 0x05, 0x27, 0x00, 0x00, 0x01,
                                            0x00, 0x00, 0x00}));
    const FactoryRecordBytes last = BuildFactoryRecord(0x12345, 0, 0x1000000, 7, 25, -1);
    EXPECT_EQ(last[0], 0x23);
    EXPECT_EQ(last[1], 0x45);
    EXPECT_EQ(last[6], 0x00);
    EXPECT_EQ(last[8], 0x00);
    EXPECT_EQ(last[9], 7);
    EXPECT_EQ(last[10], 25);
    EXPECT_EQ(last[11], 0xFF);

    FactoryRecordBytes allOnes;
    allOnes.fill(0xFF);
    const FactoryFields fields = DecodeFactoryRecord(allOnes);
    EXPECT_EQ(fields.productType, 0xFFFF);
    EXPECT_EQ(fields.date, -1);
    EXPECT_EQ(fields.serialNumber, 0xFFFFFF);
    EXPECT_EQ(fields.factoryIndex, 255);
    const FactoryFields back = DecodeFactoryRecord(defaults);
    EXPECT_EQ(back.productType, 5);
    EXPECT_EQ(back.date, 0x20200527);
    EXPECT_EQ(back.serialNumber, 1);

    // Serial numbers: the advance never overflows, and only 24 bits are ever stamped.
    const int largest = std::numeric_limits<int>::max();
    EXPECT_EQ(AdvancedSerialNumber(0xFFFFFE), 0xFFFFFF);
    EXPECT_EQ(AdvancedSerialNumber(0xFFFFFF), 0x1000000);
    EXPECT_EQ(AdvancedSerialNumber(largest), largest);
    EXPECT_EQ(AdvancedSerialNumber(-1), -1);
    EXPECT_NO_THROW(CheckSerialNumberFits(0));
    EXPECT_NO_THROW(CheckSerialNumberFits(0xFFFFFF));
    EXPECT_THROW(CheckSerialNumberFits(0x1000000), StationError);
    EXPECT_THROW(CheckSerialNumberFits(-1), StationError);
}

TEST(SaveFileNameTest, AppendsTheExtensionOnlyWhenItIsMissingInAnyCase) {
    EXPECT_EQ(SaveFileName("/d/dump"), "/d/dump.bin");
    EXPECT_EQ(SaveFileName("/d/dump.bin"), "/d/dump.bin");
    EXPECT_EQ(SaveFileName("/d/DUMP.BIN"), "/d/DUMP.BIN");
    EXPECT_EQ(SaveFileName("/d/dump.bin.txt"), "/d/dump.bin.txt.bin");
    EXPECT_EQ(SaveFileName("bin"), "bin.bin");
}

TEST(BlockCountTest, KeepsTheCountBetweenOneAndEight) {
    EXPECT_EQ(ClampedBlockCount(0), 1);
    EXPECT_EQ(ClampedBlockCount(-3), 1);
    EXPECT_EQ(ClampedBlockCount(12), 8);
    EXPECT_EQ(ClampedBlockCount(1), std::nullopt);
    EXPECT_EQ(ClampedBlockCount(8), std::nullopt);
}

} // namespace
} // namespace vrax
