#pragma once

#include "cli/ProgressBar.h"
#include "programming/FactoryRecord.h"
#include "programming/Lang.h"
#include "programming/StationView.h"
#include "records/ImageApprovalCheck.h"
#include "records/OperationRecord.h"
#include "records/SerialNumberHold.h"

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
    void ChunkStarting(int done, int total) override { progress_.Update(done, total); }
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
    // A write holds the number it stamps in the records through `hold` (when given) and
    // remembers it once the factory record goes out.
    void StampingSerialNumber(int productType, int serialNumber, StampMoment moment) override {
        if (hold_ != nullptr) {
            hold_->Claim(productType, serialNumber);
        }
        if (moment == StampMoment::RecordGoesOut) {
            stamped_ = StampedNumber{productType, serialNumber};
        }
    }
    void SetSerialNumberHold(SerialNumberHold* hold) { hold_ = hold; }
    // A write refuses an image that `check` (when given) does not let through.
    void WritingImage(const ImageBuffer& image, StationSettings& settings) override {
        if (approvals_ != nullptr) {
            approvals_->Require(image, settings, imageFile_);
        }
    }
    void SetApprovalCheck(ImageApprovalCheck* check, std::string imageFile) {
        approvals_ = check;
        imageFile_ = std::move(imageFile);
    }
    const std::optional<StampedNumber>& Stamped() const { return stamped_; }

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
    SerialNumberHold* hold_ = nullptr;
    ImageApprovalCheck* approvals_ = nullptr;
    std::string imageFile_;
    std::optional<StampedNumber> stamped_;
};

} // namespace vrax
