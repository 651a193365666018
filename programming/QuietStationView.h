#pragma once

#include "programming/StationView.h"

namespace vrax {

// A view that shows nothing and never pumps, for timing the protocol alone.
class QuietStationView final : public StationView {
public:
    void ShowBusyWindow() override {}
    void HideBusyWindow() override {}
    void PumpMessages() override {}
    void HideResult() override {}
    void ShowResult(const std::string&, ResultColour, std::optional<int>) override {}
    void ShowMouseMismatch() override {}
    void ShowSizeMismatch() override {}
    void HideResultLabels() override {}
    void SetDevTimerRunning(bool) override {}
    void SetActionButtonsEnabled(bool) override {}
    void ShowPassCount(int) override {}
    bool AutoRunChecked() override { return false; }
    void DisableJobControls() override {}
    void EnableJobControls() override {}
    void ShowFactoryRecord(int, int, int, int, int, int) override {}
};

} // namespace vrax
