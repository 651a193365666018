#pragma once

#include "StationWatch.h"

namespace vrax {

class SimulatedHidBus;
class TForm1;

// Reads the station window as the operator would: its labels, its timer and its polling state.
class FormWatch final : public StationWatch {
public:
    FormWatch(TForm1& form, SimulatedHidBus& bus) : form_(form), bus_(bus) {}

    StationSnapshot Look() override;
    Verdict ShownVerdict() const;

private:
    TForm1& form_;
    SimulatedHidBus& bus_;
};

} // namespace vrax
