#include "WriteJob.h"

#include "programming/FactoryRecord.h"
#include "programming/WritePass.h"

namespace vrax {

namespace {

constexpr std::uint8_t TextWritePass = 12;
constexpr std::uint8_t TextWriteFail = 13;
constexpr int VerdictPointSize = 36;

void EndSteps(StationContext& context) {
    StationView& view = context.view;
    view.HideBusyWindow();
    view.ShowPassCount(context.state.PassCount);
    view.PumpMessages();
    if (!view.AutoRunChecked()) {
        OfferActionButtons(context);
    }
    // Once, after the pump: a load accepted in it stops polling and leaves the start to here.
    ResumePolling(context);
    view.PumpMessages();
}

// The write passes of a checked write: Total Times, then one more when none took, the factory
// record, and the read-back checks.
bool WriteAndCheck(StationContext& context, MouseLink& link, const JobTraits& jobs,
                   ImageSnapshot& image, JobOutcome& outcome) {
    const int totalTimes = context.settings.TotalTimes();
    bool written = false;
    for (int pass = 0; pass < totalTimes && !written; ++pass) {
        written = WriteImagePass(context, link, jobs, image.bytes);
    }
    if (!written) {
        written = WriteImagePass(context, link, jobs, image.bytes);
    }
    // In 2K Byte the check reads nothing back, so a refused record would otherwise pass
    // and its serial number be taken as stamped.
    bool recordWritten = true;
    if (context.settings.WriteProductId()) {
        recordWritten = WriteFactoryRecord(context, &outcome);
    }
    bool passed = false;
    if (written && recordWritten) {
        const int retryTimes = context.settings.RetryTimes();
        if (retryTimes > 0) {
            for (int check = 0; check < retryTimes && !passed; ++check) {
                passed = VerifyAfterWrite(context, link, image);
            }
        } else {
            passed = written;
        }
    }
    return passed;
}

void RunJob(StationContext& context, MouseLink& link, const JobTraits& jobs, ImageSnapshot& image,
            JobOutcome& outcome) {
    StationView& view = context.view;
    // Refused before the mouse is touched: a wrapped number would repeat an earlier mouse's.
    if (jobs.checkedWrite && context.settings.WriteProductId()) {
        const int serialNumber = context.settings.FactoryNumber();
        CheckSerialNumberFits(serialNumber);
        context.gate.AdmitSerialNumber(context.settings.FactoryType() & 0xFFFF, serialNumber,
                                       StampMoment::BeforeTheMouse);
    }
    switch (link.Identify(image.typeName)) {
    case MouseMatch::NoAnswer:
    case MouseMatch::Unmarked:
        return;
    case MouseMatch::Mismatch:
    case MouseMatch::NotReady:
        DecideMismatch(context, outcome);
        view.ShowMouseMismatch();
        return;
    case MouseMatch::Match:
        break;
    }
    view.ShowBusyWindow();
    view.PumpMessages();

    bool passed = false;
    try {
        if (jobs.checkedWrite) {
            passed = WriteAndCheck(context, link, jobs, image, outcome);
        } else {
            passed = WriteImagePass(context, link, jobs, image.bytes);
            if (!passed) {
                passed = WriteImagePass(context, link, jobs, image.bytes);
            }
        }
    } catch (...) {
        // Leave the mouse with its command sequence closed before the error is reported.
        link.EndSession();
        throw;
    }
    link.EndSession();
    SettleWait(context);

    Decide(context, outcome, passed ? JobVerdict::Pass : JobVerdict::Fail);
    std::string text;
    context.lang.GetUIText(passed ? TextWritePass : TextWriteFail, text);
    const ResultColour passColour =
        jobs.largeWriteVerdict ? ResultColour::Lime : ResultColour::Green;
    const std::optional<int> pointSize =
        jobs.largeWriteVerdict ? std::optional<int>(VerdictPointSize) : std::nullopt;
    view.ShowResult(text, passed ? passColour : ResultColour::Red, pointSize);
    if (passed) {
        ++context.state.PassCount;
    }
}

} // namespace

void SettleWait(StationContext& context) {
    const int sleepTime = context.settings.SleepTime();
    for (std::int64_t repetition = 0; repetition <= sleepTime; ++repetition) {
        context.clock.SleepMilliseconds(1);
        context.view.PumpMessages();
    }
}

JobOutcome RunWriteJob(StationContext& context) {
    OperationScope operation(context);
    StationView& view = context.view;
    view.HideResult();
    view.SetDevTimerRunning(false);
    view.SetActionButtonsEnabled(false);

    JobOutcome outcome(Job::Write);
    try {
        const int icType = context.settings.IcType();
        MouseLink* link = context.links.For(icType);
        if (link != nullptr) {
            context.gate.AdmitImage(operation.image.bytes, context.settings);
            RunJob(context, *link, FindMouseType(icType)->jobs, operation.image, outcome);
        }
    } catch (...) {
        // The window must come back as after a finished job before the error is shown.
        EndSteps(context);
        throw;
    }
    EndSteps(context);
    return Finished(context, outcome);
}

} // namespace vrax
