#pragma once

#include "programming/StationContext.h"
#include "records/OperationRecord.h"
#include "records/ProductionRecords.h"

#include <chrono>
#include <functional>
#include <string>

namespace vrax {

class RememberingHidPlatform;

// Stands between the operations and the window: every verdict an operation shows is first
// committed to the records, then passed on. Until attached it only passes calls on.
class RecordingStationView final : public StationView {
public:
    explicit RecordingStationView(StationView& inner) : inner_(inner) {}

    // The station whose operations are recorded; the file name of the loaded image is asked
    // for when an operation starts.
    void Attach(Station& station, ProductionRecords& records, const RememberingHidPlatform* devices,
                std::function<std::string()> imageFile);
    // Called with every record right after it was committed.
    void SetRecordListener(std::function<void(const ProductionRecord&)> listener) {
        listener_ = std::move(listener);
    }

    void ShowBusyWindow() override { inner_.ShowBusyWindow(); }
    void HideBusyWindow() override { inner_.HideBusyWindow(); }
    void PumpMessages() override { inner_.PumpMessages(); }
    void ChunkStarting(int done, int total) override { inner_.ChunkStarting(done, total); }
    void Idle() override { inner_.Idle(); }

    void HideResult() override;
    void ShowResult(const std::string& text, ResultColour colour,
                    std::optional<int> pointSize = std::nullopt) override;
    void ShowMouseMismatch() override { inner_.ShowMouseMismatch(); }
    void ShowSizeMismatch() override { inner_.ShowSizeMismatch(); }
    void HideResultLabels() override { inner_.HideResultLabels(); }
    void SetDevTimerRunning(bool running) override { inner_.SetDevTimerRunning(running); }
    void SetActionButtonsEnabled(bool enabled) override { inner_.SetActionButtonsEnabled(enabled); }
    void ShowPassCount(int passCount) override { inner_.ShowPassCount(passCount); }
    bool AutoRunChecked() override { return inner_.AutoRunChecked(); }
    void DisableJobControls() override { inner_.DisableJobControls(); }
    void EnableJobControls() override { inner_.EnableJobControls(); }
    void ShowFactoryRecord(int type, int date, int serialNumber, int factoryIndex, int lineIndex,
                           int stationIndex) override {
        inner_.ShowFactoryRecord(type, date, serialNumber, factoryIndex, lineIndex, stationIndex);
    }

private:
    std::string OperationOf(const std::string& verdict) const;

    StationView& inner_;
    Station* station_ = nullptr;
    ProductionRecords* records_ = nullptr;
    const RememberingHidPlatform* devices_ = nullptr;
    std::function<std::string()> imageFile_;
    std::function<void(const ProductionRecord&)> listener_;
    // Every operation hides the result first: that is where its time starts.
    std::chrono::microseconds start_{};
    RecordOrigin origin_;
};

} // namespace vrax
