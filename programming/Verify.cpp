#include "Verify.h"

#include "programming/MouseIdentity.h"

#include <algorithm>

namespace vrax {

namespace {

constexpr std::uint8_t TextVerifyPass = 14;
constexpr std::uint8_t TextVerifyFail = 15;

bool InFactoryRecord(int offset) {
    return offset >= FactoryRecordAddress && offset < FactoryRecordAddress + FactoryRecordSize;
}

void ShowVerdict(StationContext& context, JobOutcome& outcome, bool passed) {
    Decide(context, outcome, passed ? JobVerdict::Pass : JobVerdict::Fail);
    std::string text;
    context.lang.GetUIText(passed ? TextVerifyPass : TextVerifyFail, text);
    context.view.ShowResult(text, passed ? ResultColour::Green : ResultColour::Red);
}

void VerifyKvqm31x(StationContext& context, const ImageSnapshot& image, JobOutcome& outcome) {
    StationView& view = context.view;
    Kvqm31xLink& link = context.link31;
    switch (MatchImageToMouse(link, image.typeName)) {
    case MouseMatch::NoAnswer:
    case MouseMatch::Unmarked:
        return;
    case MouseMatch::Mismatch:
        DecideMismatch(context, outcome);
        view.ShowMouseMismatch();
        return;
    case MouseMatch::NotReady:
        DecideMismatch(context, outcome);
        view.ShowMouseMismatch();
        SendClosingCommands(link);
        return;
    case MouseMatch::Match:
        break;
    }
    view.ShowBusyWindow();
    view.PumpMessages();

    const ImageBuffer& compareCopy = image.bytes;
    ImageBuffer blocks{};
    bool readFailed = false;
    for (int block = 0; block < 8; ++block) {
        const int offset = block * 256;
        if (!link.ReadMemory(offset, 256, blocks.data() + offset, 256)) {
            readFailed = true;
        }
    }
    if (readFailed) {
        ShowVerdict(context, outcome, false);
    } else {
        bool mismatch = false;
        for (int offset = 0; offset < ImageSize && !mismatch; ++offset) {
            mismatch = !InFactoryRecord(offset) && compareCopy[offset] != blocks[offset];
        }
        ShowVerdict(context, outcome, !mismatch);
    }
    SendClosingCommands(link);
}

void VerifyKvqm42xx(StationContext& context, const ImageSnapshot& image, JobOutcome& outcome) {
    context.view.ShowBusyWindow();
    context.view.PumpMessages();
    StationState& state = context.state;
    if (!context.link42.ReadMemory(0, ImageSize, state.ReadBackBuffer.data(), ImageSize)) {
        ShowVerdict(context, outcome, false);
        return;
    }
    ShowVerdict(context, outcome, image.bytes == state.ReadBackBuffer);
}

} // namespace

JobOutcome RunVerify(StationContext& context) {
    OperationScope operation(context);
    StationView& view = context.view;
    view.HideResult();
    view.SetDevTimerRunning(false);
    view.SetActionButtonsEnabled(false);

    JobOutcome outcome(Job::Verify);
    switch (context.settings.IcType()) {
    case IcTypeKvqm31x:
        VerifyKvqm31x(context, operation.image, outcome);
        break;
    case IcTypeKvqm42xx:
    case IcTypeKvqm537:
        VerifyKvqm42xx(context, operation.image, outcome);
        break;
    default:
        break;
    }

    view.HideBusyWindow();
    view.PumpMessages();
    OfferActionButtons(context);
    ResumePolling(context);
    view.PumpMessages();
    return Finished(context, outcome);
}

} // namespace vrax
