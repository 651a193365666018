#include "StationFixture.h"
#include "programming/WriteJob.h"

#include <algorithm>

namespace vrax::testing {
namespace {

using C = Kvqm31xLink;
using RefusedPartsTest = StationFixture;

int WriteSetupAddress(const HidTraceEntry& entry) {
    const auto& b = entry.bytes;
    const bool setup = entry.direction == HidTraceEntry::Direction::Set && b[0] == C::ReportId &&
                       b[1] == C::CmdWriteSetup;
    return setup ? b[2] | (b[3] << 8) : -1;
}

TEST_F(RefusedPartsTest, Kvqm31xRefusedBlockOrRangeLeavesTheRestWrittenAndRetriedAsTheFormatSays) {
    auto mouse = PlugKvqm31x();
    StationContext context = Context();

    // 256 Byte, N = 4, block 2 refused in the first attempt only.
    settings.format = DataFormat::Byte256;
    settings.blockCount = 4;
    int blockTwoSetups = 0;
    bus.SetTraceListener([&](const HidTraceEntry& entry) {
        const int address = WriteSetupAddress(entry);
        if (address >= 0) {
            const bool refuse = address == 512 && ++blockTwoSetups == 1;
            mouse->Faults().refusedWriteChunk = refuse ? 0 : -1;
        }
    });
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Pass);
    const std::vector<Setup> writes = [&] {
        std::vector<Setup> all = Setups31x();
        all.erase(std::remove_if(all.begin(), all.end(),
                                 [](const Setup& s) { return s.command != C::CmdWriteSetup; }),
                  all.end());
        return all;
    }();
    const std::vector<Setup> blocks = {{6, 0, 256}, {6, 256, 256}, {6, 512, 256}, {6, 768, 256}};
    std::vector<Setup> twoAttempts = blocks;
    twoAttempts.insert(twoAttempts.end(), blocks.begin(), blocks.end());
    EXPECT_EQ(writes, twoAttempts);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 1024, mouse->Memory().begin()));
    EXPECT_TRUE(std::all_of(mouse->Memory().begin() + 1024, mouse->Memory().end(),
                            [](std::uint8_t b) { return b == 0xFF; }));

    // Custom, the first range refused R times, the second taken: the pass succeeds and the
    // check decides by what the mouse holds in the first range.
    for (const bool firstRangeHeld : {false, true}) {
        SCOPED_TRACE(firstRangeHeld ? "mouse already holds the first range" : "it does not");
        mouse->Memory().fill(0xFF);
        if (firstRangeHeld) {
            std::copy_n(image.begin(), 256, mouse->Memory().begin());
        }
        settings.format = DataFormat::Custom;
        settings.retryTimes = 3;
        bus.SetTraceListener([&](const HidTraceEntry& entry) {
            const int address = WriteSetupAddress(entry);
            if (address >= 0) {
                mouse->Faults().refusedWriteChunk = address == 0 ? 0 : -1;
            }
        });
        bus.ClearTrace();
        EXPECT_EQ(RunWriteJob(context).verdict,
                  firstRangeHeld ? JobVerdict::Pass : JobVerdict::Fail);
        const std::vector<Setup> setups = Setups31x();
        EXPECT_EQ(std::count(setups.begin(), setups.end(), Setup{6, 0, 256}), 3);
        EXPECT_EQ(std::count(setups.begin(), setups.end(), Setup{6, 1280, 256}), 1);
        // A failing check stops at the first range; each of the R checks reads it again.
        EXPECT_EQ(std::count(setups.begin(), setups.end(), Setup{4, 0, 256}),
                  firstRangeHeld ? 1 : 3);
        EXPECT_EQ(std::count(setups.begin(), setups.end(), Setup{4, 1280, 256}),
                  firstRangeHeld ? 1 : 0);
        EXPECT_TRUE(
            std::equal(image.begin() + 1280, image.begin() + 1536, mouse->Memory().begin() + 1280));
        EXPECT_EQ(view.resultText, firstRangeHeld ? "Write Pass" : "Write Fail");
    }
}

TEST_F(RefusedPartsTest, Kvqm42xxPassesOnItsSecondPass) {
    auto mouse = PlugKvqm42xx();
    int writeSetups = 0;
    bus.SetTraceListener([&](const HidTraceEntry& entry) {
        if (entry.direction == HidTraceEntry::Direction::Set &&
            entry.bytes[0] == Kvqm42xxLink::CommandReportId &&
            entry.bytes[1] == Kvqm42xxLink::CmdWriteSetup) {
            // Every attempt of the first pass loses a data report; the second pass gets through.
            mouse->Faults().droppedDataReport = ++writeSetups <= settings.retryTimes ? 40 : -1;
        }
    });
    StationContext context = Context();
    EXPECT_EQ(RunWriteJob(context).verdict, JobVerdict::Pass);
    EXPECT_EQ(writeSetups, settings.retryTimes + 1);
    EXPECT_EQ(mouse->Memory(), image);
    EXPECT_EQ(view.resultText, "Write Pass");
    EXPECT_EQ(view.resultColour, ResultColour::Green);
    EXPECT_EQ(station.state.PassCount, 1);
    EXPECT_EQ(view.shownPassCount, 1);
}

TEST_F(RefusedPartsTest, CombinedIdentityFaultsYieldTheOutcomeOfHighestPrecedence) {
    auto mouse = PlugKvqm31x();
    struct Case {
        const char* faults;
        const char* loadedType;
        MouseMatch expected;
        std::vector<int> commands;
    };
    const std::vector<Case> cases = {
        {"unmarked,not-ready,chip=36", "KVQM31X", MouseMatch::Mismatch, {1, 3}},
        {"unmarked,not-ready", "KVQM42xx", MouseMatch::Mismatch, {1, 3}},
        {"unmarked,not-ready", "", MouseMatch::Mismatch, {1, 3}},
        {"unmarked,not-ready", "KVQM31X", MouseMatch::Unmarked, {1, 3}},
        {"unmarked,chip=75", "KVQM31X", MouseMatch::Unmarked, {1, 3}},
        {"not-ready,chip=FD", "KVQM31X", MouseMatch::NotReady, {1, 3}},
        {"chip=75", "KVQM31X", MouseMatch::Match, {1, 3}},
        {"silent,chip=36", "", MouseMatch::NoAnswer, {1}},
        {"refuse-command=1,unmarked", "KVQM31X", MouseMatch::NoAnswer, {1}},
        {"refuse-command=3,chip=36", "KVQM42xx", MouseMatch::NoAnswer, {1, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.faults) + " / loaded as '" + c.loadedType + "'");
        MouseFaults faults;
        std::string error;
        ASSERT_TRUE(ParseMouseFaults(c.faults, MouseFamily::Kvqm31x, faults, error)) << error;
        mouse->SetFaults(faults);
        bus.ClearTrace();
        EXPECT_EQ(MouseMatchName(station.links.For(IcTypeKvqm31x)->Identify(c.loadedType)),
                  std::string(MouseMatchName(c.expected)));
        // Each command is sent again by the link while it is refused; the order is what counts.
        std::vector<int> commands = Commands31x();
        commands.erase(std::unique(commands.begin(), commands.end()), commands.end());
        EXPECT_EQ(commands, c.commands);
    }
}

} // namespace
} // namespace vrax::testing
