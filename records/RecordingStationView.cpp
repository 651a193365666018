#include "records/RecordingStationView.h"

#include "device/RememberingHidPlatform.h"
#include "records/RecordsReport.h"
#include "records/Sha256.h"

namespace vrax {

namespace {

constexpr std::uint8_t TextWritePass = 12; // 12..17: write, verify and save pass and fail
constexpr std::uint8_t TextMouseMismatch = 19;

} // namespace

void RecordingStationView::Attach(Station& station, ProductionRecords& records,
                                  const RememberingHidPlatform* devices,
                                  std::function<std::string()> imageFile) {
    station_ = &station;
    records_ = &records;
    devices_ = devices;
    imageFile_ = std::move(imageFile);
    approvals_ = std::make_unique<ImageApprovalCheck>(records);
}

bool RecordingStationView::IsVerdictOf(const std::string& text,
                                       const std::string& operation) const {
    static const char* const operations[] = {"write", "verify", "read"};
    for (std::uint8_t id = TextWritePass; id < TextWritePass + 6; ++id) {
        if (text == station_->lang.Text(id)) {
            return operation == operations[(id - TextWritePass) / 2];
        }
    }
    return operation == "factory-read" && (text == "Read Ok" || text == "Read Fail");
}

void RecordingStationView::Run(const std::string& name, const std::function<void()>& job) {
    if (station_ == nullptr || records_ == nullptr) {
        job();
        return;
    }
    Operation operation;
    operation.name = name;
    {
        StationContext context = station_->Context();
        operation.start = context.clock.Now();
        if (context.state.ImageLoaded) {
            operation.origin.imageSha256 =
                Sha256Hex(context.state.LoadedImage.data(), context.state.LoadedImage.size());
            operation.origin.imageFile = imageFile_ ? imageFile_() : "";
        }
    }
    operation.transfers = devices_ != nullptr ? devices_->Transfers() : 0;
    Operation* const outer = operation_;
    operation_ = &operation;
    struct Restore {
        Operation*& current;
        Operation* outer;
        ~Restore() { current = outer; }
    } const restore{operation_, outer};
    try {
        job();
    } catch (const UnrecordedMouse&) {
        throw;
    } catch (const std::exception& error) {
        RecordEnd(operation, error.what());
        throw;
    }
    RecordEnd(operation, "");
}

void RecordingStationView::Store(Operation& operation, const std::string& verdict,
                                 const std::string& error) {
    StationContext context = station_->Context();
    ProductionRecord record = RecordOfOperation(operation.name, verdict, context, devices_,
                                                operation.origin, operation.stamped);
    record.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(context.clock.Now() - operation.start)
            .count();
    record.error = error;
    // A failure the window shows without a reason keeps the platform's word for it.
    const Lang& lang = station_->lang;
    const bool pass = verdict == lang.Text(TextWritePass) ||
                      verdict == lang.Text(TextWritePass + 2) ||
                      verdict == lang.Text(TextWritePass + 4) || verdict == "Read Ok";
    if (error.empty() && !pass) {
        record.error = TransferFailureReason(context);
    }
    operation.recorded = true;
    StoreRecord(*records_, record, operation.hold ? &*operation.hold : nullptr);
    if (listener_) {
        listener_(record);
    }
}

void RecordingStationView::RecordEnd(Operation& operation, const std::string& error) {
    const bool reached = devices_ == nullptr || devices_->Transfers() != operation.transfers;
    if (operation.recorded || !reached) {
        return;
    }
    std::string verdict = operation.verdict;
    // Save shows its pass after the read; a file that could not be written makes it a fail.
    if (!error.empty() && !verdict.empty()) {
        for (std::uint8_t id = TextWritePass; id < TextWritePass + 6; id += 2) {
            if (verdict == station_->lang.Text(id)) {
                verdict = station_->lang.Text(static_cast<std::uint8_t>(id + 1));
            }
        }
    }
    if (verdict.empty() && operation.mismatch) {
        verdict = station_->lang.Text(TextMouseMismatch);
    }
    Store(operation, verdict,
          !error.empty() || !verdict.empty() ? error : station_->state.NoVerdictReason);
}

void RecordingStationView::ShowResult(const std::string& text, ResultColour colour,
                                      std::optional<int> pointSize) {
    if (operation_ != nullptr && IsVerdictOf(text, operation_->name)) {
        operation_->verdict = text;
        if (operation_->name != "read" && !operation_->recorded) {
            // Committed before it shows: a process killed now loses no finished mouse.
            Store(*operation_, text,
                  operation_->mismatch ? station_->lang.Text(TextMouseMismatch) : "");
        }
    }
    inner_.ShowResult(text, colour, pointSize);
}

void RecordingStationView::ShowMouseMismatch() {
    if (operation_ != nullptr) {
        operation_->mismatch = true;
    }
    inner_.ShowMouseMismatch();
}

void RecordingStationView::StampingSerialNumber(int productType, int serialNumber,
                                                StampMoment moment) {
    if (operation_ != nullptr && operation_->name == "write") {
        if (!operation_->hold) {
            operation_->hold.emplace(*records_);
        }
        operation_->hold->Claim(productType, serialNumber);
        if (moment == StampMoment::RecordGoesOut) {
            operation_->stamped = StampedNumber{productType, serialNumber};
        }
    }
    inner_.StampingSerialNumber(productType, serialNumber, moment);
}

void RecordingStationView::WritingImage(const ImageBuffer& image, StationSettings& settings) {
    if (approvals_) {
        approvals_->Require(image, settings, imageFile_ ? imageFile_() : "");
    }
    inner_.WritingImage(image, settings);
}

} // namespace vrax
