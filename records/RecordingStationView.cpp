#include "records/RecordingStationView.h"

#include "records/RememberingHidPlatform.h"
#include "records/Sha256.h"

namespace vrax {

namespace {

constexpr std::uint8_t TextWritePass = 12; // 12..17: write, verify and save pass and fail

} // namespace

void RecordingStationView::Attach(Station& station, ProductionRecords& records,
                                  const RememberingHidPlatform* devices,
                                  std::function<std::string()> imageFile) {
    station_ = &station;
    records_ = &records;
    devices_ = devices;
    imageFile_ = std::move(imageFile);
}

void RecordingStationView::HideResult() {
    if (station_ != nullptr) {
        StationContext context = station_->Context();
        start_ = context.clock.Now();
        origin_.imageSha256 =
            context.state.ImageLoaded
                ? Sha256Hex(context.state.LoadedImage.data(), context.state.LoadedImage.size())
                : std::string{};
        origin_.imageFile = context.state.ImageLoaded && imageFile_ ? imageFile_() : "";
    }
    inner_.HideResult();
}

std::string RecordingStationView::OperationOf(const std::string& verdict) const {
    static const char* const operations[] = {"write", "verify", "read"};
    for (std::uint8_t id = TextWritePass; id < TextWritePass + 6; ++id) {
        if (verdict == station_->lang.Text(id)) {
            return operations[(id - TextWritePass) / 2];
        }
    }
    return verdict == "Read Ok" || verdict == "Read Fail" ? "factory-read" : "";
}

void RecordingStationView::ShowResult(const std::string& text, ResultColour colour,
                                      std::optional<int> pointSize) {
    if (station_ != nullptr && records_ != nullptr) {
        const std::string operation = OperationOf(text);
        if (!operation.empty()) {
            StationContext context = station_->Context();
            ProductionRecord record =
                RecordOfOperation(operation, text, context, devices_, origin_);
            record.durationMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(context.clock.Now() - start_)
                    .count();
            records_->Append(record);
            if (listener_) {
                listener_(record);
            }
        }
    }
    inner_.ShowResult(text, colour, pointSize);
}

} // namespace vrax
