#pragma once

#include "programming/StationView.h"

#include <functional>
#include <string>
#include <vector>

namespace vrax::testing {

// Records what an operation does to the window, in order, as short readable lines.
class RecordingView : public StationView {
public:
    void ShowBusyWindow() override {
        busyVisible = true;
        Record("busy shown");
    }
    void HideBusyWindow() override {
        busyVisible = false;
        Record("busy hidden");
    }
    void PumpMessages() override {
        ++pumpCount;
        if (onPump) {
            onPump();
        }
    }

    void HideResult() override {
        resultVisible = false;
        Record("result hidden");
    }
    void ShowResult(const std::string& text, ResultColour colour,
                    std::optional<int> pointSize) override {
        resultText = text;
        resultColour = colour;
        if (pointSize) {
            resultPointSize = *pointSize;
        }
        resultVisible = true;
        Record("result " + text);
    }
    void ShowMouseMismatch() override {
        mouseMismatchVisible = true;
        Record("mouse mismatch");
    }
    void ShowSizeMismatch() override {
        sizeMismatchVisible = true;
        Record("size mismatch");
    }
    void HideResultLabels() override {
        mouseMismatchVisible = false;
        sizeMismatchVisible = false;
        Record("labels hidden");
    }
    void SetDevTimerRunning(bool running) override {
        timerRunning = running;
        Record(running ? "timer on" : "timer off");
    }
    void SetActionButtonsEnabled(bool enabled) override {
        buttonsEnabled = enabled;
        Record(enabled ? "buttons on" : "buttons off");
    }
    void ShowPassCount(int passCount) override {
        shownPassCount = passCount;
        Record("pass count " + std::to_string(passCount));
    }
    bool AutoRunChecked() override { return autoRun; }
    void DisableJobControls() override {
        jobControlsEnabled = false;
        resultVisible = false;
        mouseMismatchVisible = false;
        sizeMismatchVisible = false;
        Record("job controls off");
    }
    void EnableJobControls() override {
        jobControlsEnabled = true;
        Record("job controls on");
    }
    void ShowFactoryRecord(int type, int date, int serialNumber, int factoryIndex, int lineIndex,
                           int stationIndex) override {
        factoryFields = {type, date, serialNumber, factoryIndex, lineIndex, stationIndex};
        Record("factory fields");
    }

    void Record(const std::string& event) { events.push_back(event); }

    std::vector<std::string> events;
    long pumpCount = 0;
    // Runs in every pump, as a handler the window would run there.
    std::function<void()> onPump;
    bool busyVisible = false;
    bool resultVisible = false;
    std::string resultText;
    ResultColour resultColour = ResultColour::Red;
    int resultPointSize = 0;
    bool mouseMismatchVisible = false;
    bool sizeMismatchVisible = false;
    bool timerRunning = false;
    bool buttonsEnabled = false;
    bool jobControlsEnabled = true;
    bool autoRun = false;
    int shownPassCount = -1;
    std::vector<int> factoryFields;
};

} // namespace vrax::testing
