#include "VirtualProductionLine.h"

#include "programming/StationSettings.h"
#include "sim/MouseFaults.h"

#include <algorithm>
#include <utility>

namespace vrax {

namespace {

std::uint32_t Below(std::mt19937& random, std::uint32_t bound) {
    return static_cast<std::uint32_t>(random() % bound);
}

} // namespace

VirtualProductionLine::FaultPlan VirtualProductionLine::PickFault(int icType,
                                                                  std::mt19937& random) {
    // Chunk numbers stay inside the first 256 bytes, which every data format writes.
    const std::string chunk = std::to_string(Below(random, 36));
    if (icType == IcTypeKvqm31x) {
        static constexpr const char* OtherChips[] = {"36", "42", "76", "00"};
        switch (Below(random, 4)) {
        case 0:
            return {"refuse-write-chunk=" + chunk, Verdict::WriteFail};
        case 1:
            return {"refuse-setup", Verdict::WriteFail};
        case 2:
            return {"not-ready", Verdict::MouseMismatch};
        default:
            return {std::string("chip=") + OtherChips[Below(random, 4)], Verdict::MouseMismatch};
        }
    }
    switch (Below(random, 4)) {
    case 0:
        return {"refuse-write-chunk=" + chunk, Verdict::WriteFail};
    case 1:
        return {"drop-data=" + chunk, Verdict::WriteFail};
    case 2:
        return {"refuse-setup", Verdict::WriteFail};
    default:
        return {"no-data", Verdict::WriteFail};
    }
}

std::string VirtualProductionLine::Start(const Settings& settings) {
    if (Running()) {
        return "The line is already running.";
    }
    if (settings.mice < 1) {
        return "The line needs at least one mouse.";
    }
    if (FindMouseType(settings.icType) == nullptr) {
        return "Select an IC type on the station first.";
    }
    const StationSnapshot snapshot = watch_.Look();
    if (!snapshot.imageLoaded) {
        return "Load a BIN image on the station first: it watches for mice only while an image "
               "is loaded.";
    }
    settings_ = settings;
    std::mt19937 random(settings.seed);
    const int faulty = (settings.mice * std::clamp(settings.faultyPercent, 0, 100) + 50) / 100;
    std::vector<int> order(static_cast<std::size_t>(settings.mice));
    for (int i = 0; i < settings.mice; ++i) {
        order[static_cast<std::size_t>(i)] = i;
    }
    for (std::size_t i = order.size() - 1; i > 0; --i) {
        std::swap(order[i], order[Below(random, static_cast<std::uint32_t>(i + 1))]);
    }
    mice_.assign(static_cast<std::size_t>(settings.mice), LineMouse{});
    for (int i = 0; i < settings.mice; ++i) {
        mice_[static_cast<std::size_t>(i)].index = i + 1;
    }
    for (int i = 0; i < faulty; ++i) {
        LineMouse& mouse = mice_[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])];
        const FaultPlan plan = PickFault(settings.icType, random);
        mouse.faults = plan.faults;
        mouse.expected = plan.expected;
    }
    for (const MouseRack::Mouse& mouse : std::vector<MouseRack::Mouse>(rack_.Mice())) {
        if (mouse.lineIndex > 0 && !mouse.Plugged()) {
            rack_.Remove(mouse.number);
        }
    }
    current_ = 0;
    passCountAtStart_ = snapshot.passCount;
    Enter(Phase::WaitingForStation, MouseLabel() + ": waiting for the station to be idle");
    return {};
}

void VirtualProductionLine::Stop(const std::string& why) {
    if (Running()) {
        passCountAtEnd_ = watch_.Look().passCount;
        Enter(Phase::Stopped, why);
    }
}

bool VirtualProductionLine::Running() const {
    return phase_ != Phase::Idle && phase_ != Phase::Finished && phase_ != Phase::Stopped;
}

void VirtualProductionLine::Step() {
    if (!Running()) {
        return;
    }
    const StationSnapshot snapshot = watch_.Look();
    if (!snapshot.imageLoaded) {
        Stop("Stopped: the station has no BIN image loaded any more.");
        return;
    }
    if (snapshot.busy) {
        return;
    }
    ++waited_;
    switch (phase_) {
    case Phase::WaitingForStation:
        if (snapshot.acceptedCount == snapshot.presentCount) {
            PlugNext(snapshot);
        } else if (waited_ > settings_.patienceSteps) {
            Stop("Stopped: the station does not settle on the devices present.");
        }
        break;
    case Phase::WaitingForArrival:
        if (snapshot.acceptedCount != countBefore_) {
            if (snapshot.verdict != Verdict::None) {
                Record(snapshot.verdict);
            } else if (snapshot.autoWrite) {
                // The job ran inside the tick that opened the mouse and showed nothing.
                Record(Verdict::None);
            } else {
                Enter(Phase::WaitingForVerdict,
                      MouseLabel() + ": Auto Write is off, click Write on the station");
            }
        } else if (waited_ > settings_.patienceSteps) {
            Stop("Stopped: the station did not notice " + MouseLabel() + ".");
        }
        break;
    case Phase::WaitingForVerdict:
        if (snapshot.verdict != Verdict::None || waited_ > settings_.verdictPatienceSteps) {
            Record(snapshot.verdict);
        }
        break;
    case Phase::ShowingVerdict:
        if (waited_ > settings_.holdSteps) {
            rack_.Unplug(mice_[current_].rackNumber);
            countBefore_ = snapshot.acceptedCount;
            Enter(Phase::WaitingForRemoval,
                  MouseLabel() + ": unplugged, waiting for the station to see it go");
        }
        break;
    case Phase::WaitingForRemoval:
        if (snapshot.acceptedCount != countBefore_) {
            ++current_;
            if (current_ == mice_.size()) {
                const Tally tally = Count();
                passCountAtEnd_ = snapshot.passCount;
                Enter(Phase::Finished, "Finished: " + std::to_string(tally.done) + " mice, " +
                                           std::to_string(tally.asExpected) + " as expected");
            } else {
                Enter(Phase::WaitingForStation, MouseLabel() + ": waiting for the station");
            }
        } else if (waited_ > settings_.patienceSteps) {
            Stop("Stopped: the station did not notice that " + MouseLabel() + " was unplugged.");
        }
        break;
    default:
        break;
    }
}

void VirtualProductionLine::PlugNext(const StationSnapshot& snapshot) {
    for (const MouseRack::Mouse& mouse : std::vector<MouseRack::Mouse>(rack_.Mice())) {
        if (mouse.lineIndex > 0 && !mouse.Plugged()) {
            rack_.Remove(mouse.number);
        }
    }
    LineMouse& line = mice_[current_];
    line.rackNumber = rack_.Add(settings_.icType, settings_.layout);
    MouseRack::Mouse& mouse = *rack_.Find(line.rackNumber);
    mouse.lineIndex = line.index;
    if (!line.faults.empty()) {
        std::string error;
        MouseFaults faults;
        ParseMouseFaults(line.faults, mouse.device->Family(), faults, error);
        mouse.device->SetFaults(faults);
    }
    countBefore_ = snapshot.acceptedCount;
    rack_.Plug(line.rackNumber);
    Enter(Phase::WaitingForArrival, MouseLabel() + ": plugged, waiting for the verdict");
}

void VirtualProductionLine::Record(Verdict verdict) {
    LineMouse& mouse = mice_[current_];
    mouse.got = verdict;
    mouse.done = true;
    Enter(Phase::ShowingVerdict, MouseLabel() + ": " + VerdictText(verdict));
}

void VirtualProductionLine::Enter(Phase phase, std::string status) {
    phase_ = phase;
    status_ = std::move(status);
    waited_ = 0;
}

std::string VirtualProductionLine::MouseLabel() const {
    return "Mouse " + std::to_string(current_ + 1) + " of " + std::to_string(mice_.size());
}

VirtualProductionLine::Tally VirtualProductionLine::Count() const {
    Tally tally;
    for (const LineMouse& mouse : mice_) {
        if (!mouse.done) {
            continue;
        }
        ++tally.done;
        switch (mouse.got) {
        case Verdict::WritePass:
            ++tally.pass;
            break;
        case Verdict::WriteFail:
            ++tally.fail;
            break;
        case Verdict::MouseMismatch:
            ++tally.mismatch;
            break;
        case Verdict::None:
            ++tally.none;
            break;
        }
        if (mouse.AsExpected()) {
            ++tally.asExpected;
        }
    }
    return tally;
}

int VirtualProductionLine::CurrentRackNumber() const {
    if (mice_.empty() || phase_ == Phase::Idle) {
        return 0;
    }
    const std::size_t index = current_ < mice_.size() ? current_ : mice_.size() - 1;
    return mice_[index].rackNumber;
}

} // namespace vrax
