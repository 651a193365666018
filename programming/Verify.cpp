#include "Verify.h"

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

// Eight 256-byte reads, all tried even after one failed; the factory record is left out of
// the comparison, as each mouse carries its own.
void CompareInBlocks(StationContext& context, MouseLink& link, const ImageSnapshot& image,
                     JobOutcome& outcome) {
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
        return;
    }
    bool mismatch = false;
    for (int offset = 0; offset < ImageSize && !mismatch; ++offset) {
        mismatch = !InFactoryRecord(offset) && compareCopy[offset] != blocks[offset];
    }
    ShowVerdict(context, outcome, !mismatch);
}

void CompareWhole(StationContext& context, MouseLink& link, const ImageSnapshot& image,
                  JobOutcome& outcome) {
    StationState& state = context.state;
    if (!link.ReadMemory(0, ImageSize, state.ReadBackBuffer.data(), ImageSize)) {
        ShowVerdict(context, outcome, false);
        return;
    }
    ShowVerdict(context, outcome, image.bytes == state.ReadBackBuffer);
}

void VerifyMouse(StationContext& context, MouseLink& link, const JobTraits& jobs,
                 const ImageSnapshot& image, JobOutcome& outcome) {
    StationView& view = context.view;
    switch (link.Identify(image.typeName)) {
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
        link.EndSession();
        return;
    case MouseMatch::Match:
        break;
    }
    view.ShowBusyWindow();
    view.PumpMessages();
    if (jobs.verifyInBlocks) {
        CompareInBlocks(context, link, image, outcome);
    } else {
        CompareWhole(context, link, image, outcome);
    }
    link.EndSession();
}

} // namespace

JobOutcome RunVerify(StationContext& context) {
    OperationScope operation(context);
    StationView& view = context.view;
    view.HideResult();
    view.SetDevTimerRunning(false);
    view.SetActionButtonsEnabled(false);

    JobOutcome outcome(Job::Verify);
    const int icType = context.settings.IcType();
    if (MouseLink* link = context.links.For(icType)) {
        VerifyMouse(context, *link, FindMouseType(icType)->jobs, operation.image, outcome);
    }

    view.HideBusyWindow();
    view.PumpMessages();
    OfferActionButtons(context);
    ResumePolling(context);
    view.PumpMessages();
    return Finished(context, outcome);
}

} // namespace vrax
