#include "bench/MouseRack.h"
#include "bench/VirtualProductionLine.h"
#include "device/Clock.h"
#include "device/HidDiscovery.h"
#include "programming/StationSettings.h"
#include "sim/MouseFaults.h"

#include <gtest/gtest.h>

namespace vrax {
namespace {

using Phase = VirtualProductionLine::Phase;

// A station the test plays by hand: it accepts the bus's count when told to, is busy when
// told to, and shows the verdict it is given.
class PlayedStation final : public StationWatch {
public:
    explicit PlayedStation(SimulatedHidBus& bus) : bus_(bus) {}
    StationSnapshot Look() override {
        snapshot.presentCount = CountHidDevices(bus_);
        return snapshot;
    }
    void Accept() { snapshot.acceptedCount = CountHidDevices(bus_); }

    StationSnapshot snapshot{.imageLoaded = true, .autoWrite = true, .icType = IcTypeKvqm31x};

private:
    SimulatedHidBus& bus_;
};

class ProductionLineStepsTest : public ::testing::Test {
protected:
    VirtualProductionLine::Settings Line(int mice, int faultyPercent, std::uint32_t seed) const {
        VirtualProductionLine::Settings settings;
        settings.mice = mice;
        settings.faultyPercent = faultyPercent;
        settings.seed = seed;
        settings.holdSteps = 3;
        settings.patienceSteps = 10;
        settings.verdictPatienceSteps = 20;
        return settings;
    }
    int Faulty() const {
        int faulty = 0;
        for (const auto& mouse : line.Mice()) {
            faulty += mouse.faults.empty() ? 0 : 1;
        }
        return faulty;
    }
    void Steps(int count) {
        for (int i = 0; i < count; ++i) {
            line.Step();
        }
    }

    VirtualClock clock;
    SimulatedHidBus bus{clock};
    MouseRack rack{bus};
    PlayedStation station{bus};
    VirtualProductionLine line{rack, station};
};

TEST_F(ProductionLineStepsTest, TheShareOfFaultyMiceIsExactAndTheSeedRepeatsThePlan) {
    const struct {
        int mice, percent, faulty;
    } shares[] = {{30, 30, 9}, {10, 25, 3}, {10, 0, 0}, {7, 100, 7}, {1, 49, 0}, {1, 50, 1}};
    for (const auto& share : shares) {
        ASSERT_TRUE(line.Start(Line(share.mice, share.percent, 5)).empty());
        EXPECT_EQ(Faulty(), share.faulty) << share.mice << " mice, " << share.percent << " %";
        line.Stop("next");
    }
    ASSERT_TRUE(line.Start(Line(30, 30, 11)).empty());
    const auto first = line.Mice();
    line.Stop("again");
    ASSERT_TRUE(line.Start(Line(30, 30, 11)).empty());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(line.Mice()[i].faults, first[i].faults) << i;
    }
}

TEST_F(ProductionLineStepsTest, EveryPlannedFaultSuitsItsFamilyAndPromisesAFailure) {
    std::mt19937 random(3);
    for (int icType : {IcTypeKvqm31x, IcTypeKvqm42xx, IcTypeKvqm537}) {
        const MouseFamily family =
            icType == IcTypeKvqm31x ? MouseFamily::Kvqm31x : MouseFamily::Kvqm42xx;
        for (int i = 0; i < 200; ++i) {
            const VirtualProductionLine::FaultPlan plan =
                VirtualProductionLine::PickFault(icType, random);
            MouseFaults faults;
            std::string error;
            EXPECT_TRUE(ParseMouseFaults(plan.faults, family, faults, error))
                << plan.faults << ": " << error;
            EXPECT_TRUE(faults.Any());
            EXPECT_TRUE(plan.expected == Verdict::WriteFail ||
                        (plan.expected == Verdict::MouseMismatch && icType == IcTypeKvqm31x))
                << plan.faults;
        }
    }
}

TEST_F(ProductionLineStepsTest, OnlyIdleStepsSpendPatienceAndTheVerdictIsHeldBeforeUnplugging) {
    ASSERT_TRUE(line.Start(Line(2, 0, 1)).empty());
    line.Step();
    ASSERT_EQ(line.CurrentPhase(), Phase::WaitingForArrival);
    const int number = line.CurrentRackNumber();
    EXPECT_TRUE(rack.Find(number)->Plugged());
    EXPECT_EQ(rack.Find(number)->lineIndex, 1);

    // A long job inside the tick: the line waits however long it takes.
    station.snapshot.busy = true;
    Steps(1000);
    EXPECT_EQ(line.CurrentPhase(), Phase::WaitingForArrival);
    station.snapshot.busy = false;
    station.Accept();
    station.snapshot.verdict = Verdict::WritePass;
    line.Step();
    ASSERT_EQ(line.CurrentPhase(), Phase::ShowingVerdict);
    EXPECT_EQ(line.Mice()[0].got, Verdict::WritePass);

    Steps(3);
    EXPECT_TRUE(rack.Find(number)->Plugged()) << "held for three steps";
    line.Step();
    EXPECT_FALSE(rack.Find(number)->Plugged());
    ASSERT_EQ(line.CurrentPhase(), Phase::WaitingForRemoval);
    station.snapshot.verdict = Verdict::None;
    Steps(5);
    EXPECT_EQ(line.CurrentPhase(), Phase::WaitingForRemoval);
    station.Accept();
    line.Step();
    EXPECT_EQ(line.CurrentPhase(), Phase::WaitingForStation);
    line.Step();
    EXPECT_EQ(line.CurrentPhase(), Phase::WaitingForArrival);
    EXPECT_EQ(rack.Find(number), nullptr) << "the finished line mouse makes room for the next";

    // Without Auto Write the operator has verdictPatienceSteps to click.
    station.snapshot.autoWrite = false;
    station.Accept();
    line.Step();
    ASSERT_EQ(line.CurrentPhase(), Phase::WaitingForVerdict);
    Steps(20);
    EXPECT_EQ(line.CurrentPhase(), Phase::WaitingForVerdict);
    line.Step();
    EXPECT_EQ(line.CurrentPhase(), Phase::ShowingVerdict);
    EXPECT_EQ(line.Mice()[1].got, Verdict::None);
}

TEST_F(ProductionLineStepsTest, ALineWaitsForTheStationToSettleBeforeItPlugs) {
    rack.PlugKeyboard();
    ASSERT_TRUE(line.Start(Line(1, 0, 1)).empty());
    Steps(10);
    EXPECT_EQ(line.CurrentPhase(), Phase::WaitingForStation)
        << "the station has not yet counted the keyboard";
    EXPECT_TRUE(rack.Mice().empty());
    line.Step();
    EXPECT_EQ(line.CurrentPhase(), Phase::Stopped);
    EXPECT_NE(line.Status().find("does not settle"), std::string::npos);

    station.Accept();
    ASSERT_TRUE(line.Start(Line(1, 0, 1)).empty());
    line.Step();
    EXPECT_EQ(line.CurrentPhase(), Phase::WaitingForArrival);
    EXPECT_EQ(line.Start(Line(1, 0, 1)), "The line is already running.");
}

} // namespace
} // namespace vrax
