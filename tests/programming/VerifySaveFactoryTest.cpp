#include "StationFixture.h"
#include "programming/BinImage.h"
#include "programming/FactoryRecord.h"
#include "programming/SaveJob.h"
#include "programming/StationError.h"
#include "programming/Verify.h"

#include <filesystem>
#include <fstream>

namespace vrax::testing {
namespace {

namespace fs = std::filesystem;
using C = Kvqm31xLink;

class OperationTest : public StationFixture {
protected:
    OperationTest() {
        folder = fs::temp_directory_path() /
                 ("vrax-op-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    ~OperationTest() override { fs::remove_all(folder); }

    std::string Path(const std::string& name) const { return (folder / name).string(); }

    static ImageBuffer ReadFile(const std::string& path) {
        ImageBuffer bytes{};
        std::ifstream in(path, std::ios::binary);
        in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
        return bytes;
    }

    void WriteFile(const std::string& path, std::size_t size, std::uint8_t value) {
        std::ofstream out(path, std::ios::binary);
        const std::string bytes(size, static_cast<char>(value));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    fs::path folder;
};

TEST_F(OperationTest, Kvqm31xVerifyPassesOverTheFactoryRecordOnlyAndReadsEveryBlock) {
    auto mouse = PlugKvqm31x();
    StationContext context = Context();
    mouse->Memory() = image;
    for (int offset = 160; offset < 172; ++offset) {
        mouse->Memory()[offset] ^= 0x5A;
    }
    EXPECT_EQ(RunVerify(context).verdict, JobVerdict::Pass);
    EXPECT_EQ(view.resultText, "Verify Pass");
    EXPECT_EQ(view.resultColour, ResultColour::Green);

    for (const int offset : {159, 172, 0, 2047}) {
        mouse->Memory() = image;
        mouse->Memory()[offset] ^= 1;
        EXPECT_EQ(RunVerify(context).verdict, JobVerdict::Fail) << offset;
        EXPECT_EQ(view.resultColour, ResultColour::Red);
    }

    mouse->Memory() = image;
    bus.ClearTrace();
    mouse->Faults().refusedReadChunk = 3;
    EXPECT_EQ(RunVerify(context).verdict, JobVerdict::Fail);
    int readSetups = 0;
    for (const Setup& setup : Setups31x()) {
        readSetups += setup.command == C::CmdReadSetup;
    }
    EXPECT_EQ(readSetups, 8);
    EXPECT_EQ(Commands31x().back(), C::CmdEnd);
    EXPECT_TRUE(view.buttonsEnabled);
    EXPECT_TRUE(view.timerRunning);
    EXPECT_FALSE(view.busyVisible);
}

TEST_F(OperationTest, VerifyIdentityOutcomesShowTheMismatchAndCloseOnlyWhenNotReady) {
    auto mouse = PlugKvqm31x();
    StationContext context = Context();
    mouse->Faults().notReady = true;
    EXPECT_EQ(RunVerify(context).verdict, JobVerdict::None);
    EXPECT_TRUE(view.mouseMismatchVisible);
    EXPECT_EQ(Commands31x(), (std::vector<int>{1, 3, 8, 2}));

    bus.ClearTrace();
    mouse->Faults() = {};
    view.mouseMismatchVisible = false;
    station.state.LoadedTypeName = "KVQM537";
    EXPECT_EQ(RunVerify(context).verdict, JobVerdict::None);
    EXPECT_TRUE(view.mouseMismatchVisible);
    EXPECT_EQ(Commands31x(), (std::vector<int>{1, 3}));
    EXPECT_FALSE(view.resultVisible);

    bus.Unplug(bus.PluggedDevices().front());
    view.mouseMismatchVisible = false;
    EXPECT_EQ(RunVerify(context).verdict, JobVerdict::None);
    EXPECT_FALSE(view.mouseMismatchVisible);
    EXPECT_FALSE(view.resultVisible);
    EXPECT_TRUE(view.buttonsEnabled);
    EXPECT_TRUE(view.timerRunning);
}

TEST_F(OperationTest, SecondFamilyVerifyComparesEveryByteIntoTheReadBackBuffer) {
    auto mouse = PlugKvqm42xx();
    StationContext context = Context();
    mouse->Memory() = image;
    EXPECT_EQ(RunVerify(context).verdict, JobVerdict::Pass);
    EXPECT_EQ(station.state.ReadBackBuffer, image);
    mouse->Memory()[165] ^= 0xFF;
    EXPECT_EQ(RunVerify(context).verdict, JobVerdict::Fail);
    mouse->Memory() = image;
    mouse->Faults().droppedDataReport = 40;
    EXPECT_EQ(RunVerify(context).verdict, JobVerdict::Fail);
}

TEST_F(OperationTest, SaveThenLoadThenVerifyRoundTripsAndAFailedReadWritesNoFile) {
    auto mouse = PlugKvqm31x();
    mouse->Memory() = image;
    StationContext context = Context();

    EXPECT_TRUE(RunSave(context, Path("dump")).Passed());
    EXPECT_EQ(view.resultText, "Save Pass");
    EXPECT_EQ(fs::file_size(Path("dump.bin")), 2048u);
    EXPECT_EQ(ReadFile(Path("dump.bin")), image);
    EXPECT_TRUE(view.jobControlsEnabled);
    EXPECT_TRUE(view.timerRunning);
    // Polling is held off while the read pumps messages.
    const auto off = std::find(view.events.begin(), view.events.end(), "timer off");
    const auto shown = std::find(view.events.begin(), view.events.end(), "result Save Pass");
    EXPECT_LT(off, shown);

    station.state.LoadedImage.fill(0);
    settings.icType = IcTypeKvqm31x;
    EXPECT_EQ(LoadBinFile(context, Path("dump.bin")), LoadOutcome::Loaded);
    EXPECT_EQ(station.state.LoadedImage, image);
    EXPECT_EQ(RunVerify(context).verdict, JobVerdict::Pass);

    // Choosing dump.bin writes dump.bin, not dump.bin.bin.
    EXPECT_TRUE(RunSave(context, Path("dump.bin")).Passed());
    EXPECT_FALSE(fs::exists(Path("dump.bin.bin")));

    mouse->Faults().refusedReadChunk = 7;
    EXPECT_FALSE(RunSave(context, Path("broken")).Passed());
    EXPECT_EQ(view.resultText, "Save Fail");
    EXPECT_EQ(view.resultColour, ResultColour::Red);
    EXPECT_FALSE(fs::exists(Path("broken.bin")));

    mouse->Faults() = {};
    mouse->Faults().chipCode = 0x12;
    view.resultVisible = false;
    EXPECT_FALSE(RunSave(context, Path("other")).Passed());
    EXPECT_TRUE(view.mouseMismatchVisible);
    EXPECT_FALSE(fs::exists(Path("other.bin")));

    mouse->Faults() = {};
    mouse->Faults().silent = true;
    EXPECT_FALSE(RunSave(context, Path("silent")).Passed());
    EXPECT_EQ(view.resultText, "Save Fail");
    EXPECT_FALSE(fs::exists(Path("silent.bin")));
}

TEST_F(OperationTest, SaveIntoAMissingFolderReportsTheExpandedPathAndRestoresTheWindow) {
    auto mouse = PlugKvqm42xx();
    StationContext context = Context();
    try {
        RunSave(context, Path("no/such/folder/dump"));
        ADD_FAILURE() << "no error";
    } catch (const FileError& error) {
        const std::string expected =
            "Cannot create file \"" + Path("no/such/folder/dump.bin") + "\". ";
        EXPECT_EQ(std::string(error.what()).substr(0, expected.size()), expected);
    }
    EXPECT_TRUE(view.jobControlsEnabled);
    EXPECT_TRUE(view.timerRunning);
    EXPECT_FALSE(view.busyVisible);

    // A folder chosen as the file name is refused rather than written into.
    fs::create_directories(folder / "taken.bin");
    EXPECT_THROW(RunSave(context, Path("taken.bin")), FileError);
    EXPECT_TRUE(fs::is_directory(folder / "taken.bin"));
}

TEST_F(OperationTest, LoadAcceptsExactlyTwoKilobytesAndRecordsTheSelectedType) {
    StationContext context = Context();
    for (const std::size_t size : {0u, 2047u, 2049u}) {
        WriteFile(Path("image.bin"), size, 0x11);
        view.sizeMismatchVisible = false;
        BeginLoad(context);
        EXPECT_EQ(LoadBinFile(context, Path("image.bin")), LoadOutcome::WrongSize) << size;
        EXPECT_TRUE(view.sizeMismatchVisible);
        EXPECT_FALSE(station.state.ImageLoaded);
        EXPECT_FALSE(view.timerRunning);
    }
    WriteFile(Path("image.bin"), 2048, 0x22);
    const std::vector<std::string> names = {"KVQM31X", "KVQM42xx", "KVQM537"};
    for (int icType = 0; icType < 3; ++icType) {
        settings.icType = icType;
        BeginLoad(context);
        EXPECT_EQ(LoadBinFile(context, Path("image.bin")), LoadOutcome::Loaded);
        EXPECT_EQ(station.state.LoadedTypeName, names[icType]);
        EXPECT_TRUE(station.state.ImageLoaded);
        EXPECT_TRUE(view.timerRunning);
        EXPECT_EQ(station.state.LoadedImage[2047], 0x22);
    }
    settings.icType = -1;
    BeginLoad(context);
    EXPECT_EQ(LoadBinFile(context, Path("image.bin")), LoadOutcome::NoIcType);
    EXPECT_TRUE(station.state.LoadedTypeName.empty());
    EXPECT_FALSE(view.timerRunning);

    for (const std::string& bad : {Path("missing.bin"), folder.string()}) {
        try {
            LoadBinFile(context, bad);
            ADD_FAILURE() << bad;
        } catch (const FileError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("Cannot open file \"" + bad + "\". ", 0), 0u)
                << error.what();
        }
    }
}

TEST_F(OperationTest, FactoryRecordIsWrittenWithRetriesAndReadBackOnBothFamilies) {
    auto mouse = PlugKvqm31x();
    StationContext context = Context();
    settings.factoryNumber = 0x1234;
    settings.lineIndex = 25;
    settings.factoryIndex = 7;
    EXPECT_TRUE(WriteFactoryRecord(context));
    EXPECT_EQ(
        std::vector<std::uint8_t>(mouse->Memory().begin() + 160, mouse->Memory().begin() + 172),
        (std::vector<std::uint8_t>{0x00, 0x05, 0x20, 0x20, 0x05, 0x27, 0x00, 0x12, 0x34, 7, 25,
                                   0}));
    EXPECT_TRUE(ReadFactoryRecord(context).Passed());
    EXPECT_EQ(view.resultText, "Read Ok");
    EXPECT_EQ(view.resultColour, ResultColour::Green);
    EXPECT_EQ(view.factoryFields, (std::vector<int>{5, 0x20200527, 0x1234, 7, 25, 0}));
    EXPECT_EQ(Commands31x().back(), C::CmdEnd);

    bus.ClearTrace();
    settings.retryTimes = 0;
    EXPECT_FALSE(WriteFactoryRecord(context));
    EXPECT_TRUE(bus.Trace().empty());

    mouse->Faults().silent = true;
    view.factoryFields.clear();
    EXPECT_FALSE(ReadFactoryRecord(context).Passed());
    EXPECT_EQ(view.resultText, "Read Fail");
    EXPECT_TRUE(view.factoryFields.empty());
    EXPECT_TRUE(view.buttonsEnabled);
    EXPECT_TRUE(view.timerRunning);

    station.links.For(IcTypeKvqm31x)->Forget();
    auto second = PlugKvqm42xx();
    settings.retryTimes = 3;
    EXPECT_TRUE(WriteFactoryRecord(context));
    EXPECT_TRUE(ReadFactoryRecord(context).Passed());
    EXPECT_EQ(view.resultText, "Read Ok");
    EXPECT_EQ(view.factoryFields, (std::vector<int>{5, 0x20200527, 0x1234, 7, 25, 0}));
    second->Faults().droppedDataReport = 1;
    EXPECT_FALSE(ReadFactoryRecord(context).Passed());
    EXPECT_EQ(view.resultText, "Read Fail");
}

} // namespace
} // namespace vrax::testing
