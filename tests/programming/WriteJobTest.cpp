#include "programming/WriteJob.h"
#include "StationFixture.h"
#include "programming/StationError.h"

#include <algorithm>

namespace vrax::testing {
namespace {

using C = Kvqm31xLink;

// The command sequences of a KVQM31X job, setups left out: the identity check opens one, the
// job closes it; a check after the write opens and closes its own in between.
const std::vector<int> IdentityThenClosing = {C::CmdBegin, C::CmdStatus, C::CmdFinish, C::CmdEnd};
const std::vector<int> IdentityCheckedThenClosedTwice = {C::CmdBegin,  C::CmdStatus, C::CmdBegin,
                                                         C::CmdStatus, C::CmdFinish, C::CmdEnd,
                                                         C::CmdFinish, C::CmdEnd};
using WriteJobTest = StationFixture;

TEST_F(WriteJobTest, Kvqm31xTwoKilobytePassWritesOnceChecksIdentityAndShowsLimeVerdict) {
    auto mouse = PlugKvqm31x();
    settings.format = DataFormat::Byte2K;
    StationContext context = Context();
    const auto before = clock.TotalSlept();

    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Pass);

    EXPECT_EQ(mouse->Memory(), image);
    EXPECT_EQ(Commands31x(),
              (std::vector<int>{C::CmdBegin, C::CmdStatus, C::CmdWriteSetup, C::CmdBegin,
                                C::CmdStatus, C::CmdFinish, C::CmdEnd, C::CmdFinish, C::CmdEnd}));
    EXPECT_EQ(view.resultText, "Write Pass");
    EXPECT_EQ(view.resultColour, ResultColour::Lime);
    EXPECT_EQ(view.resultPointSize, 36);
    EXPECT_TRUE(view.resultVisible);
    EXPECT_EQ(station.state.PassCount, 1);
    EXPECT_EQ(view.shownPassCount, 1);
    EXPECT_FALSE(view.busyVisible);
    EXPECT_TRUE(view.timerRunning);
    EXPECT_TRUE(view.buttonsEnabled);
    EXPECT_FALSE(mouse->TransactionOpen());
    // The settle wait: Sleep Time 100 gives 101 sleeps of 1 ms on top of the protocol's waits.
    EXPECT_GE((clock.TotalSlept() - before).count(), 101'000 + 342 * 10'000);
    EXPECT_EQ(view.events.front(), "result hidden");
}

TEST_F(WriteJobTest, TrafficOfEachDataFormatFollowsIdentityPassRecordCheckClosing) {
    struct Case {
        DataFormat format;
        int blocks;
        std::vector<Setup> setups;
    };
    const std::vector<Case> cases = {
        {DataFormat::Byte2K, 8, {{6, 0, 2048}, {6, 160, 12}}},
        {DataFormat::Byte256,
         3,
         {{6, 0, 256},
          {6, 256, 256},
          {6, 512, 256},
          {6, 160, 12},
          {4, 0, 256},
          {4, 256, 256},
          {4, 512, 256}}},
        {DataFormat::Custom,
         8,
         {{6, 0, 256}, {6, 1280, 256}, {6, 160, 12}, {4, 0, 256}, {4, 1280, 256}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        bus.SetTraceEnabled(false);
        station.links.For(IcTypeKvqm31x)->Forget();
        auto mouse = PlugKvqm31x();
        settings.format = c.format;
        settings.blockCount = c.blocks;
        settings.writeProductId = true;
        StationContext context = Context();
        EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Pass);
        EXPECT_EQ(Setups31x(), c.setups);
        std::vector<int> commands = Commands31x();
        commands.erase(std::remove_if(commands.begin(), commands.end(),
                                      [](int code) {
                                          return code == C::CmdReadSetup ||
                                                 code == C::CmdWriteSetup;
                                      }),
                       commands.end());
        EXPECT_EQ(commands, IdentityCheckedThenClosedTwice);
        const FactoryRecordBytes record = station.state.FactoryRecord;
        EXPECT_TRUE(std::equal(record.begin(), record.end(), mouse->Memory().begin() + 160));
        EXPECT_EQ(station.state.LoadedImage, image) << "the record stays with this mouse";
        bus.ClearTrace();
    }
}

TEST_F(WriteJobTest, TotalAndRetryTimesBoundThePassesAndNoCheckFollowsAFailedWritePhase) {
    auto mouse = PlugKvqm31x();
    settings.format = DataFormat::Byte2K;
    StationContext context = Context();

    settings.totalTimes = 0;
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Pass);
    EXPECT_EQ(Setups31x().size(), 1u);

    bus.ClearTrace();
    mouse->Faults().refusedWriteChunk = 5;
    settings.totalTimes = 5;
    settings.writeProductId = true;
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Fail);
    // 6 passes of 3 attempts each, then the record (12 bytes: one chunk, never refused here).
    const std::vector<Setup> setups = Setups31x();
    EXPECT_EQ(std::count(setups.begin(), setups.end(), Setup{6, 0, 2048}), 18);
    EXPECT_EQ(setups.back(), (Setup{6, 160, 12}));
    const std::vector<int> commands = Commands31x();
    EXPECT_EQ(commands.back(), C::CmdEnd);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), int{C::CmdBegin}), 1);
    EXPECT_EQ(view.resultText, "Write Fail");
    EXPECT_EQ(view.resultColour, ResultColour::Red);
    EXPECT_EQ(station.state.PassCount, 1);
    EXPECT_EQ(view.shownPassCount, 1);

    bus.ClearTrace();
    mouse->Faults() = {};
    settings.retryTimes = 0;
    settings.writeProductId = false;
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Fail);
    EXPECT_TRUE(Setups31x().empty());
    EXPECT_EQ(Commands31x(), IdentityThenClosing);
}

TEST_F(WriteJobTest, IdentityOutcomesEndTheJobWithoutVerdictOrClosingCommands) {
    auto mouse = PlugKvqm31x();
    StationContext context = Context();
    struct Case {
        const char* name;
        MouseFaults faults;
        std::string loadedType;
        bool mismatchShown;
    };
    MouseFaults notReady, unmarked, otherChip, silent;
    notReady.notReady = true;
    unmarked.unmarked = true;
    otherChip.chipCode = 0x36;
    silent.silent = true;
    const std::vector<Case> cases = {
        {"not ready", notReady, "KVQM31X", true},        {"unmarked", unmarked, "KVQM31X", false},
        {"other chip", otherChip, "KVQM31X", true},      {"silent", silent, "KVQM31X", false},
        {"image of another type", {}, "KVQM42xx", true}, {"no image", {}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mouse->Faults() = c.faults;
        station.state.LoadedTypeName = c.loadedType;
        view.mouseMismatchVisible = false;
        bus.ClearTrace();
        EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::None);
        EXPECT_EQ(view.mouseMismatchVisible, c.mismatchShown);
        EXPECT_FALSE(view.resultVisible);
        EXPECT_EQ(station.state.PassCount, 0);
        const std::vector<int> commands = Commands31x();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), int{C::CmdFinish}), 0);
        EXPECT_TRUE(Setups31x().empty());
        EXPECT_TRUE(view.buttonsEnabled);
        EXPECT_TRUE(view.timerRunning);
    }
}

TEST_F(WriteJobTest, ACorruptedReadBackFailsTheCheckOnEveryRetry) {
    auto mouse = PlugKvqm31x();
    mouse->Faults().corruptAddress = 1300;
    StationContext context = Context();
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Fail);
    const std::vector<int> commands = Commands31x();
    // One identity check for the job and one per check, all three checks made.
    EXPECT_EQ(std::count(commands.begin(), commands.end(), int{C::CmdBegin}), 4);
    EXPECT_EQ(view.resultText, "Write Fail");

    // A failed read chunk is a failed check too, never a pass on 0xFF bytes that match.
    mouse->Faults() = {};
    std::fill(image.begin(), image.end(), 0xFF);
    station.state.LoadedImage = image;
    mouse->Faults().refusedReadChunk = 2;
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Fail);
}

TEST_F(WriteJobTest, ARefusedFactoryRecordFailsTheJobEvenWhenTheFormatChecksNothing) {
    auto mouse = PlugKvqm31x();
    settings.format = DataFormat::Byte2K;
    settings.writeProductId = true;
    bus.SetTraceListener([&](const HidTraceEntry& entry) {
        if (entry.direction == HidTraceEntry::Direction::Set &&
            entry.bytes[1] == C::CmdWriteSetup && entry.bytes[2] == FactoryRecordAddress) {
            mouse->Faults().refusedWriteChunk = 0;
        }
    });
    StationContext context = Context();
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Fail);
    EXPECT_EQ(view.resultText, "Write Fail");
    EXPECT_EQ(station.state.PassCount, 0);
    EXPECT_EQ(Commands31x().back(), C::CmdEnd);
}

TEST_F(WriteJobTest, AutoWriteLeavesTheButtonsDisabledAndPassesAccumulate) {
    PlugKvqm31x();
    view.autoRun = true;
    StationContext context = Context();
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Pass);
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Pass);
    EXPECT_EQ(view.shownPassCount, 2);
    EXPECT_FALSE(view.buttonsEnabled);
    EXPECT_TRUE(view.timerRunning);

    // An image loaded in the pump after the verdict stops polling and leaves its start to the
    // job's end, in Auto Write too.
    view.onPump = [&] {
        if (view.events.back() == "pass count 3") {
            view.SetDevTimerRunning(false);
        }
    };
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Pass);
    EXPECT_TRUE(view.timerRunning);
}

TEST_F(WriteJobTest, BadRangeStopsTheJobWithItsMessageAndLeavesWindowAndMouseClosed) {
    auto mouse = PlugKvqm31x();
    settings.customRanges = "000-256;abc-def;";
    StationContext context = Context();
    try {
        RunWriteJob(context);
        ADD_FAILURE() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'abc' is not a valid integer value");
    }
    EXPECT_FALSE(view.busyVisible);
    EXPECT_TRUE(view.buttonsEnabled);
    EXPECT_TRUE(view.timerRunning);
    EXPECT_FALSE(mouse->TransactionOpen());
    EXPECT_EQ(Commands31x().back(), C::CmdEnd);

    settings.customRanges = "0000-4096;";
    EXPECT_THROW(RunWriteJob(context), StationError);
    EXPECT_FALSE(mouse->TransactionOpen());
    EXPECT_TRUE(view.buttonsEnabled);

    // A range that turns bad between the record's write and the check closes the sequence once.
    bus.ClearTrace();
    settings.customRanges = "000-256;1280-1536;";
    settings.writeProductId = true;
    bus.SetTraceListener([&](const HidTraceEntry& entry) {
        if (entry.direction == HidTraceEntry::Direction::Set &&
            entry.bytes[1] == C::CmdWriteSetup && entry.bytes[2] == 160) {
            settings.customRanges = "000-256;abc-def;";
        }
    });
    EXPECT_THROW(RunWriteJob(context), ConversionError);
    bus.SetTraceListener(nullptr);
    const std::vector<int> commands = Commands31x();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), C::CmdFinish), 1);
    EXPECT_FALSE(mouse->TransactionOpen());
}

TEST_F(WriteJobTest, Kvqm42xxWritesAtMostTwoPassesAndShowsGreenWithoutResizing) {
    auto mouse = PlugKvqm42xx(IcTypeKvqm537);
    settings.totalTimes = 9;
    settings.customRanges = "garbage";
    StationContext context = Context();
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Pass);
    EXPECT_EQ(mouse->Memory(), image);
    EXPECT_EQ(view.resultText, "Write Pass");
    EXPECT_EQ(view.resultColour, ResultColour::Green);
    EXPECT_EQ(view.resultPointSize, 0);

    bus.ClearTrace();
    mouse->Faults().droppedDataReport = 100;
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Fail);
    int writeSetups = 0;
    for (const HidTraceEntry& entry : bus.Trace()) {
        writeSetups += entry.direction == HidTraceEntry::Direction::Set && entry.bytes[0] == 0x40 &&
                       entry.bytes[1] == Kvqm42xxLink::CmdWriteSetup;
    }
    EXPECT_EQ(writeSetups, 2 * 3);
    EXPECT_EQ(view.resultColour, ResultColour::Red);

    // Custom is not offered to this family: a pass fails without traffic.
    bus.ClearTrace();
    mouse->Faults() = {};
    settings.format = DataFormat::Custom;
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Fail);
    EXPECT_TRUE(bus.Trace().empty());
}

TEST_F(WriteJobTest, SettleWaitRepeatsSleepTimePlusOneAndNoneWhenNegative) {
    StationContext context = Context();
    for (const auto& [sleepTime, expected] :
         std::vector<std::pair<int, std::uint64_t>>{{0, 1}, {999, 1000}, {-1, 0}}) {
        settings.sleepTime = sleepTime;
        const std::uint64_t before = clock.SleepCount();
        const long pumpsBefore = view.pumpCount;
        SettleWait(context);
        EXPECT_EQ(clock.SleepCount() - before, expected);
        EXPECT_EQ(static_cast<std::uint64_t>(view.pumpCount - pumpsBefore), expected);
    }
}

} // namespace
} // namespace vrax::testing
