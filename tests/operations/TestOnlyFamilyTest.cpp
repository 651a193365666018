#include "TestFamilyLink.h"
#include "TestFamilyMouse.h"
#include "operations/OperationRunner.h"
#include "programming/QuietStationView.h"
#include "records/sqlite/SqliteProductionRecords.h"
#include "sim/SimulatedHidBus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace vrax::testing {
namespace {

// A family the program does not ship: its link, its row, and nothing else of the program
// changed. Registered once, before the test's station is made.
constexpr int TestIcType = 9;
const MouseType& TestType() {
    static const MouseType& type = [] {
        RegisterMouseType(
            {TestIcType, "TESTIC9", TestFamilyMouse::Ids.vendorId, TestFamilyMouse::Ids.productId,
             TestFamilyMouse::Ids.versionNumber, false, TestFamilyLink::ChunkSize,
             TestFamilyLink::CommandReportId, TestFamilyLink::DataReportId,
             JobTraits{.checkedWrite = true, .verifyInBlocks = true}, &TestFamilyLink::Make});
        return *FindMouseType(TestIcType);
    }();
    return type;
}

TEST(TestOnlyFamilyTest, WritesVerifiesAndReadsThroughTheRunnerWithItsRecords) {
    const MouseType& type = TestType();
    // Unique per run: other builds on the machine may run this test at the same time.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("vrax-family-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);

    VirtualClock clock;
    SimulatedHidBus bus(clock);
    auto mouse = std::make_shared<TestFamilyMouse>();
    mouse->memory.fill(0xFF);
    bus.Plug(mouse);
    PlainSettings settings;
    settings.icType = type.icType;
    settings.format = DataFormat::Byte2K;
    settings.writeProductId = true;
    settings.factoryNumber = 0x000123;
    QuietStationView view;
    Station station(bus, clock, settings, view);
    ASSERT_TRUE(station.OpenMouse(type.icType, type.vendorId, type.productId));
    for (int i = 0; i < ImageSize; ++i) {
        station.state.LoadedImage[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 5);
    }
    station.state.LoadedTypeName = IcTypeName(type.icType);
    station.state.ImageLoaded = true;

    SqliteProductionRecords records((folder / "records.sqlite").string());
    OperationRunner runner(station);
    runner.Attach(records, nullptr, [] { return std::string("testic9.bin"); });

    const JobOutcome written = runner.Write();
    EXPECT_EQ(VerdictText(written), "Write Pass");
    EXPECT_EQ(written.serialNumber, 0x000123);
    const FactoryRecordBytes stamped = station.state.FactoryRecord;
    ImageBuffer expected = station.state.LoadedImage;
    std::copy(stamped.begin(), stamped.end(), expected.begin() + FactoryRecordAddress);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), mouse->memory.begin()));
    // 512 image chunks and 3 of the record, in the row's 4-byte chunks.
    EXPECT_EQ(mouse->dataReports, 515);

    EXPECT_EQ(VerdictText(runner.Verify()), "Verify Pass");
    const JobOutcome factory = runner.ReadFactory();
    EXPECT_EQ(VerdictText(factory), "Read Ok");
    EXPECT_EQ(factory.serialNumber, 0x000123);
    const std::string saved = (folder / "mouse").string();
    EXPECT_EQ(VerdictText(runner.Save(saved)), "Save Pass");
    std::vector<char> bytes;
    {
        std::ifstream file(saved + ".bin", std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), {});
    }
    EXPECT_TRUE(
        std::equal(expected.begin(), expected.end(), bytes.begin(), bytes.end(),
                   [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));

    mouse->memory[700] ^= 0x01;
    EXPECT_EQ(VerdictText(runner.Verify()), "Verify Fail");
    EXPECT_GT(mouse->sessionsEnded, 0);

    std::vector<std::string> kept;
    for (const ProductionRecord& record : records.Find({})) {
        EXPECT_EQ(record.icType, "TESTIC9");
        kept.push_back(record.verdict);
    }
    EXPECT_EQ(kept, (std::vector<std::string>{"Write Pass", "Verify Pass", "Read Ok", "Save Pass",
                                              "Verify Fail"}));
    // Windows keeps the open records file; what is left there goes with the temporary folder.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
} // namespace vrax::testing
