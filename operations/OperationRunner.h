#pragma once

#include "programming/JobOutcome.h"
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

// Runs one station's jobs and answers for them: a write's image must be approved and its serial
// number held in the records before the mouse is touched, and every job that reached a mouse
// leaves one record, its verdict committed before the window shows it (Save's once its file is
// written). The window, the command line, the line and a jig all run their jobs through one.
//
// Belongs to the station's thread: one station, one runner. A job started in another's message
// pumping runs nested and keeps its own record.
class OperationRunner final : private JobGate {
public:
    explicit OperationRunner(Station& station);
    ~OperationRunner() override;
    OperationRunner(const OperationRunner&) = delete;
    OperationRunner& operator=(const OperationRunner&) = delete;

    // Keeps records of the jobs from now on. `devices` is the platform the station opens mice
    // through (paths, IDs, transfers), null when unknown; `imageFile` names the loaded image's
    // file at each job's start; `approvals` may be shared between stations (a gang's), null for
    // one of the runner's own.
    void Attach(ProductionRecords& records, const RememberingHidPlatform* devices,
                std::function<std::string()> imageFile, ImageApprovalCheck* approvals = nullptr);
    // The IDs the mouse was looked for with: the record's when the platform cannot tell.
    void SetSoughtIds(int vendorId, int productId);
    // Called with every record right after it was committed.
    void SetRecordListener(std::function<void(const ProductionRecord&)> listener) {
        listener_ = std::move(listener);
    }

    // The jobs on the station's open mouse. Refusals (image not approved, serial number stamped
    // or reserved elsewhere, records unreachable) throw before the mouse is touched. A record
    // that cannot be kept throws UnrecordedMouse, its verdict not shown. Any other error is
    // thrown after the job's record.
    JobOutcome Write();
    JobOutcome Verify();
    JobOutcome Save(const std::string& chosenPath);
    JobOutcome ReadFactory();

    // The number the records hand out (--serial next), held for the next Write, which must
    // stamp it. Throws RecordsError as the records do.
    int ReserveSerialNumber(int productType, int firstSerial);
    // The last job's outcome once it reached a verdict or its record was tried: a caller that
    // catches a records error learns from it what became of the mouse.
    const std::optional<JobOutcome>& LastOutcome() const { return lastOutcome_; }

private:
    struct Running;

    JobOutcome Run(Job job, const std::function<JobOutcome(StationContext&)>& body);
    void Store(Running& running, JobOutcome outcome);
    void RecordEnd(Running& running, const JobOutcome* finished, const std::string& error);

    void AdmitImage(const ImageBuffer& image, StationSettings& settings) override;
    void AdmitSerialNumber(int productType, int serialNumber, StampMoment moment) override;
    void Decided(const JobOutcome& outcome) override;

    Station& station_;
    // The slices of the records a job uses; null until attached.
    RecordJournal* journal_ = nullptr;
    SerialLedger* ledger_ = nullptr;
    const RememberingHidPlatform* devices_ = nullptr;
    std::function<std::string()> imageFile_;
    std::function<void(const ProductionRecord&)> listener_;
    std::unique_ptr<ImageApprovalCheck> ownApprovals_;
    ImageApprovalCheck* approvals_ = nullptr;
    int vendorId_ = 0;
    int productId_ = 0;
    std::unique_ptr<SerialNumberHold> reserved_;
    std::optional<JobOutcome> lastOutcome_;
    Running* running_ = nullptr;
};

} // namespace vrax
