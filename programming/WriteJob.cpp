#include "WriteJob.h"

#include "programming/FactoryRecord.h"
#include "programming/MouseIdentity.h"
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

void RunKvqm31xJob(StationContext& context, ImageSnapshot& image, JobOutcome& outcome) {
    StationView& view = context.view;
    Kvqm31xLink& link = context.link31;
    // Refused before the mouse is touched: a wrapped number would repeat an earlier mouse's.
    if (context.settings.WriteProductId()) {
        const int serialNumber = context.settings.FactoryNumber();
        CheckSerialNumberFits(serialNumber);
        context.gate.AdmitSerialNumber(context.settings.FactoryType() & 0xFFFF, serialNumber,
                                       StampMoment::BeforeTheMouse);
    }
    switch (MatchImageToMouse(link, image.typeName)) {
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
        const int totalTimes = context.settings.TotalTimes();
        bool written = false;
        for (int pass = 0; pass < totalTimes && !written; ++pass) {
            written = WriteImagePass(context, link, MouseFamily::Kvqm31x, image.bytes);
        }
        if (!written) {
            written = WriteImagePass(context, link, MouseFamily::Kvqm31x, image.bytes);
        }
        // In 2K Byte the check reads nothing back, so a refused record would otherwise pass
        // and its serial number be taken as stamped.
        bool recordWritten = true;
        if (context.settings.WriteProductId()) {
            recordWritten = WriteFactoryRecord(context, &outcome);
        }
        if (written && recordWritten) {
            const int retryTimes = context.settings.RetryTimes();
            if (retryTimes > 0) {
                for (int check = 0; check < retryTimes && !passed; ++check) {
                    passed = VerifyAfterWrite(context, image);
                }
            } else {
                passed = written;
            }
        }
    } catch (...) {
        // Leave the mouse with its command sequence closed before the error is reported.
        SendClosingCommands(link);
        throw;
    }
    SendClosingCommands(link);
    SettleWait(context);

    Decide(context, outcome, passed ? JobVerdict::Pass : JobVerdict::Fail);
    std::string text;
    if (passed) {
        context.lang.GetUIText(TextWritePass, text);
        view.ShowResult(text, ResultColour::Lime, VerdictPointSize);
        ++context.state.PassCount;
    } else {
        context.lang.GetUIText(TextWriteFail, text);
        view.ShowResult(text, ResultColour::Red, VerdictPointSize);
    }
}

void RunKvqm42xxJob(StationContext& context, const ImageSnapshot& image, JobOutcome& outcome) {
    StationView& view = context.view;
    view.ShowBusyWindow();
    view.PumpMessages();
    bool passed = WriteImagePass(context, context.link42, MouseFamily::Kvqm42xx, image.bytes);
    if (!passed) {
        passed = WriteImagePass(context, context.link42, MouseFamily::Kvqm42xx, image.bytes);
    }
    SettleWait(context);

    Decide(context, outcome, passed ? JobVerdict::Pass : JobVerdict::Fail);
    std::string text;
    if (passed) {
        context.lang.GetUIText(TextWritePass, text);
        view.ShowResult(text, ResultColour::Green);
        ++context.state.PassCount;
    } else {
        context.lang.GetUIText(TextWriteFail, text);
        view.ShowResult(text, ResultColour::Red);
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
        if (icType == IcTypeKvqm31x || icType == IcTypeKvqm42xx || icType == IcTypeKvqm537) {
            context.gate.AdmitImage(operation.image.bytes, context.settings);
        }
        switch (icType) {
        case IcTypeKvqm31x:
            RunKvqm31xJob(context, operation.image, outcome);
            break;
        case IcTypeKvqm42xx:
        case IcTypeKvqm537:
            RunKvqm42xxJob(context, operation.image, outcome);
            break;
        default:
            break;
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
