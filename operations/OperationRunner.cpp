#include "operations/OperationRunner.h"

#include "device/RememberingHidPlatform.h"
#include "programming/FactoryRecord.h"
#include "programming/SaveJob.h"
#include "programming/Verify.h"
#include "programming/WriteJob.h"
#include "records/Sha256.h"

namespace vrax {

struct OperationRunner::Running {
    Job job = Job::Write;
    std::chrono::microseconds start{};
    RecordOrigin origin;
    long transfers = 0; // the platform's count when the job started
    std::unique_ptr<SerialNumberHold> hold;
    std::optional<JobOutcome> decided;
    bool recorded = false;
};

OperationRunner::OperationRunner(Station& station) : station_(station) {
    station_.SetGate(this);
}

OperationRunner::~OperationRunner() {
    station_.SetGate(nullptr);
}

void OperationRunner::Attach(ProductionRecords& records, const RememberingHidPlatform* devices,
                             std::function<std::string()> imageFile,
                             ImageApprovalCheck* approvals) {
    journal_ = &records;
    ledger_ = &records;
    devices_ = devices;
    imageFile_ = std::move(imageFile);
    if (approvals == nullptr) {
        ownApprovals_ = std::make_unique<ImageApprovalCheck>(records);
        approvals = ownApprovals_.get();
    }
    approvals_ = approvals;
}

void OperationRunner::SetSoughtIds(int vendorId, int productId) {
    vendorId_ = vendorId;
    productId_ = productId;
}

JobOutcome OperationRunner::Write() {
    return Run(Job::Write, [](StationContext& context) { return RunWriteJob(context); });
}

JobOutcome OperationRunner::Verify() {
    return Run(Job::Verify, [](StationContext& context) { return RunVerify(context); });
}

JobOutcome OperationRunner::Save(const std::string& chosenPath) {
    return Run(Job::Save,
               [&chosenPath](StationContext& context) { return RunSave(context, chosenPath); });
}

JobOutcome OperationRunner::ReadFactory() {
    return Run(Job::FactoryRead,
               [](StationContext& context) { return ReadFactoryRecord(context); });
}

int OperationRunner::ReserveSerialNumber(int productType, int firstSerial) {
    if (ledger_ == nullptr) {
        throw RecordsError("No production records are kept: no serial number can be reserved.");
    }
    auto hold = std::make_unique<SerialNumberHold>(*ledger_);
    const int serialNumber = hold->Reserve(productType, firstSerial);
    reserved_ = std::move(hold);
    return serialNumber;
}

JobOutcome OperationRunner::Run(Job job, const std::function<JobOutcome(StationContext&)>& body) {
    StationContext context = station_.Context();
    Running running;
    running.job = job;
    running.start = context.clock.Now();
    running.origin.vendorId = vendorId_;
    running.origin.productId = productId_;
    if (journal_ != nullptr && context.state.ImageLoaded) {
        running.origin.imageSha256 =
            Sha256Hex(context.state.LoadedImage.data(), context.state.LoadedImage.size());
        running.origin.imageFile = imageFile_ ? imageFile_() : "";
    }
    running.transfers = devices_ != nullptr ? devices_->Transfers() : 0;
    if (job == Job::Write) {
        running.hold = std::move(reserved_);
    }
    lastOutcome_.reset();
    Running* const outer = running_;
    running_ = &running;
    struct Restore {
        Running*& current;
        Running* outer;
        ~Restore() { current = outer; }
    } const restore{running_, outer};

    JobOutcome outcome(job);
    try {
        if (journal_ != nullptr) {
            journal_->ProveStation(context.settings.FactoryIndex() + 1,
                                   LineLetter(context.settings.LineIndex()),
                                   context.settings.StationIndex() + 1);
        }
        outcome = body(context);
    } catch (const std::exception& error) {
        RecordEnd(running, nullptr, error.what());
        throw;
    }
    RecordEnd(running, &outcome, "");
    outcome.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(context.clock.Now() - running.start)
            .count();
    return outcome;
}

void OperationRunner::Store(Running& running, JobOutcome outcome) {
    StationContext context = station_.Context();
    outcome.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(context.clock.Now() - running.start)
            .count();
    const ProductionRecord record = RecordOfOperation(outcome, context, devices_, running.origin);
    running.recorded = true;
    lastOutcome_ = outcome;
    StoreRecord(*journal_, record, running.hold.get(),
                outcome.job == Job::Write && outcome.Passed());
    if (listener_) {
        listener_(record);
    }
}

void OperationRunner::RecordEnd(Running& running, const JobOutcome* finished,
                                const std::string& error) {
    const bool reached = devices_ == nullptr || devices_->Transfers() != running.transfers;
    if (journal_ == nullptr || running.recorded || (!reached && !running.decided)) {
        return;
    }
    if (finished != nullptr) {
        Store(running, *finished);
        return;
    }
    JobOutcome stopped = running.decided.value_or(JobOutcome(running.job));
    // Save shows its pass after the read; a file that could not be written makes it a fail.
    if (stopped.verdict == JobVerdict::Pass) {
        stopped.verdict = JobVerdict::Fail;
    }
    stopped.reason = error;
    Store(running, stopped);
}

void OperationRunner::AdmitImage(const ImageBuffer& image, StationSettings& settings) {
    if (approvals_ != nullptr) {
        approvals_->Require(image, settings, running_ != nullptr ? running_->origin.imageFile : "");
    }
}

void OperationRunner::AdmitSerialNumber(int productType, int serialNumber, StampMoment) {
    if (ledger_ == nullptr || running_ == nullptr || running_->job != Job::Write) {
        return;
    }
    if (!running_->hold) {
        running_->hold = std::make_unique<SerialNumberHold>(*ledger_);
    }
    running_->hold->Claim(productType, serialNumber);
}

void OperationRunner::Decided(const JobOutcome& outcome) {
    if (running_ == nullptr) {
        return;
    }
    running_->decided = outcome;
    lastOutcome_ = outcome;
    // Committed before it shows: a process killed now loses no finished mouse. Save's record
    // waits for its file.
    if (journal_ != nullptr && outcome.job != Job::Save && !running_->recorded) {
        Store(*running_, outcome);
    }
}

} // namespace vrax
