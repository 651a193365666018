#pragma once

#include "MouseRack.h"
#include "StationWatch.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vrax {

// The bench's production line: plug a fresh mouse, wait until the station has seen it and
// shown its verdict, leave the verdict up a moment, unplug, wait until the station has seen
// that too, next. It moves one step per Step() and never waits by itself, so a timer drives
// it in the program and a test drives it beside the station's ticks. Waiting is counted in
// steps, and only while the station is idle: a long job never runs out the patience.
class VirtualProductionLine {
public:
    struct Settings {
        int mice = 10;
        int faultyPercent = 20;
        std::uint32_t seed = 1;
        // The station's IC type item; the line brings mice of that type.
        int icType = 0;
        VirtualMouse42xx::Layout layout = VirtualMouse42xx::Layout::OneInterface;
        // Steps the verdict stays up before the mouse is unplugged.
        int holdSteps = 15;
        // Idle steps to wait for the station to notice a plug or an unplug.
        int patienceSteps = 100;
        // Idle steps to wait for a verdict when Auto Write is off and the operator clicks.
        int verdictPatienceSteps = 600;
    };

    enum class Phase {
        Idle,
        WaitingForStation,
        WaitingForArrival,
        WaitingForVerdict,
        ShowingVerdict,
        WaitingForRemoval,
        Finished,
        Stopped,
    };

    // A fault the line gives a mouse, with the verdict it must bring.
    struct FaultPlan {
        std::string faults;
        Verdict expected = Verdict::WritePass;
    };

    struct LineMouse {
        int index = 0; // from 1
        int rackNumber = 0;
        std::string faults; // empty: a healthy mouse
        Verdict expected = Verdict::WritePass;
        Verdict got = Verdict::None;
        bool done = false;

        bool AsExpected() const { return done && got == expected; }
    };

    struct Tally {
        int pass = 0;
        int fail = 0;
        int mismatch = 0;
        int none = 0;
        int asExpected = 0;
        int done = 0;
    };

    VirtualProductionLine(MouseRack& rack, StationWatch& watch) : rack_(rack), watch_(watch) {}

    // Empty when the line started; otherwise why it cannot start.
    std::string Start(const Settings& settings);
    void Stop(const std::string& why);
    void Step();

    bool Running() const;
    Phase CurrentPhase() const { return phase_; }
    const std::string& Status() const { return status_; }
    const std::vector<LineMouse>& Mice() const { return mice_; }
    Tally Count() const;
    int PassCountAtStart() const { return passCountAtStart_; }
    // The station's pass count when the line finished or stopped.
    int PassCountAtEnd() const { return passCountAtEnd_; }
    // The rack number of the line's mouse on the bench; 0 when there is none.
    int CurrentRackNumber() const;

    // Faults whose verdict does not depend on the station's settings, for an IC type item.
    static FaultPlan PickFault(int icType, std::mt19937& random);

private:
    void PlugNext(const StationSnapshot& snapshot);
    void Record(Verdict verdict);
    void Enter(Phase phase, std::string status);
    std::string MouseLabel() const;

    MouseRack& rack_;
    StationWatch& watch_;
    Settings settings_;
    Phase phase_ = Phase::Idle;
    std::string status_ = "Not started: the line brings mice of the station's IC type.";
    std::vector<LineMouse> mice_;
    std::size_t current_ = 0;
    int waited_ = 0;
    int countBefore_ = 0;
    int passCountAtStart_ = 0;
    int passCountAtEnd_ = 0;
};

} // namespace vrax
