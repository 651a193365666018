#pragma once

#include "programming/StationContext.h"
#include "records/ImageApprovalCheck.h"
#include "records/OperationRecord.h"
#include "records/ProductionRecords.h"
#include "records/SerialNumberHold.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vrax {

class RememberingHidPlatform;

// Stands between the operations and the window: every operation that reached the mouse leaves
// one record, a verdict committed before it is shown. Until attached it only passes calls on.
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

    // Runs one operation of the window: "write", "verify", "read" (Save) or "factory-read".
    // A write holds its serial number in the records from before the mouse is touched. An
    // operation without verdict (no answer, another mouse, an error) is recorded with why at
    // its end; Save's record waits for its file. A record that cannot be stored stops the
    // operation with an error that names the mouse; its verdict is not shown.
    void Run(const std::string& operation, const std::function<void()>& job);

    void ShowBusyWindow() override { inner_.ShowBusyWindow(); }
    void HideBusyWindow() override { inner_.HideBusyWindow(); }
    void PumpMessages() override { inner_.PumpMessages(); }
    void ChunkStarting(int done, int total) override { inner_.ChunkStarting(done, total); }
    void Idle() override { inner_.Idle(); }

    void HideResult() override { inner_.HideResult(); }
    void ShowResult(const std::string& text, ResultColour colour,
                    std::optional<int> pointSize = std::nullopt) override;
    void ShowMouseMismatch() override;
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
    void StampingSerialNumber(int productType, int serialNumber, StampMoment moment) override;
    // Refuses an image the records do not approve for the factory fields' product type.
    void WritingImage(const ImageBuffer& image, StationSettings& settings) override;

private:
    struct Operation {
        std::string name;
        std::chrono::microseconds start{};
        RecordOrigin origin;
        long transfers = 0; // the platform's count when it started
        std::optional<SerialNumberHold> hold;
        std::optional<StampedNumber> stamped;
        std::string verdict;
        bool mismatch = false;
        bool recorded = false;
    };

    bool IsVerdictOf(const std::string& text, const std::string& operation) const;
    void Store(Operation& operation, const std::string& verdict, const std::string& error);
    void RecordEnd(Operation& operation, const std::string& error);

    StationView& inner_;
    Station* station_ = nullptr;
    ProductionRecords* records_ = nullptr;
    const RememberingHidPlatform* devices_ = nullptr;
    std::function<std::string()> imageFile_;
    std::function<void(const ProductionRecord&)> listener_;
    std::unique_ptr<ImageApprovalCheck> approvals_;
    // The operation running now; one started in another's message pumping has its own.
    Operation* operation_ = nullptr;
};

} // namespace vrax
