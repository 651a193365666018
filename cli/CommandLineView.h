#pragma once

#include "cli/ProgressBar.h"
#include "programming/FactoryRecord.h"
#include "programming/Lang.h"
#include "programming/StationView.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vrax {

// The window as the command line keeps it: which result labels ended up visible and with
// what text, and the factory fields a read filled. The links' progress drives the bar.
class CommandLineView final : public StationView {
public:
    explicit CommandLineView(ProgressBar& progress) : progress_(progress) {}

    void ShowBusyWindow() override {}
    void HideBusyWindow() override {}
    void PumpMessages() override {}
    void ChunkStarting(int done, int total) override {
        progress_.Update(done, total);
        if (chunks_) {
            chunks_(done, total);
        }
    }
    // Told of every chunk as well: a jig's heartbeat counts them.
    void SetChunkListener(std::function<void(int done, int total)> listener) {
        chunks_ = std::move(listener);
    }
    void Idle() override {}

    void HideResult() override { resultVisible_ = false; }
    void ShowResult(const std::string& text, ResultColour colour,
                    std::optional<int> pointSize) override;
    void ShowMouseMismatch() override { mouseMismatchVisible_ = true; }
    void ShowSizeMismatch() override { sizeMismatchVisible_ = true; }
    void HideResultLabels() override;

    void SetDevTimerRunning(bool) override {}
    void SetActionButtonsEnabled(bool) override {}
    void ShowPassCount(int) override {}
    bool AutoRunChecked() override { return false; }
    void DisableJobControls() override;
    void EnableJobControls() override {}

    void ShowFactoryRecord(int type, int date, int serialNumber, int factoryIndex, int lineIndex,
                           int stationIndex) override;
    // The visible labels in the window's reading order: the size and mouse mismatch labels,
    // then lbl_CtrlResult.
    std::vector<std::string> VisibleTexts(const Lang& lang) const;
    const std::optional<FactoryFields>& ShownFactoryFields() const { return factoryFields_; }

private:
    ProgressBar& progress_;
    bool resultVisible_ = false;
    std::string resultText_;
    bool mouseMismatchVisible_ = false;
    bool sizeMismatchVisible_ = false;
    std::optional<FactoryFields> factoryFields_;
    std::function<void(int, int)> chunks_;
};

} // namespace vrax
