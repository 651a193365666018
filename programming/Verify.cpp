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

VerifyVerdict ShowVerdict(StationContext& context, bool passed) {
    std::string text;
    context.lang.GetUIText(passed ? TextVerifyPass : TextVerifyFail, text);
    context.view.ShowResult(text, passed ? ResultColour::Green : ResultColour::Red);
    return passed ? VerifyVerdict::Pass : VerifyVerdict::Fail;
}

VerifyVerdict VerifyKvqm31x(StationContext& context, const ImageSnapshot& image) {
    StationView& view = context.view;
    Kvqm31xLink& link = context.link31;
    switch (MatchImageToMouse(link, image.typeName)) {
    case MouseMatch::NoAnswer:
    case MouseMatch::Unmarked:
        return VerifyVerdict::None;
    case MouseMatch::Mismatch:
        view.ShowMouseMismatch();
        return VerifyVerdict::None;
    case MouseMatch::NotReady:
        view.ShowMouseMismatch();
        SendClosingCommands(link);
        return VerifyVerdict::None;
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
    VerifyVerdict verdict;
    if (readFailed) {
        verdict = ShowVerdict(context, false);
    } else {
        bool mismatch = false;
        for (int offset = 0; offset < ImageSize && !mismatch; ++offset) {
            mismatch = !InFactoryRecord(offset) && compareCopy[offset] != blocks[offset];
        }
        verdict = ShowVerdict(context, !mismatch);
    }
    SendClosingCommands(link);
    return verdict;
}

VerifyVerdict VerifyKvqm42xx(StationContext& context, const ImageSnapshot& image) {
    context.view.ShowBusyWindow();
    context.view.PumpMessages();
    StationState& state = context.state;
    if (!context.link42.ReadMemory(0, ImageSize, state.ReadBackBuffer.data(), ImageSize)) {
        return ShowVerdict(context, false);
    }
    return ShowVerdict(context, image.bytes == state.ReadBackBuffer);
}

} // namespace

VerifyVerdict RunVerify(StationContext& context) {
    OperationScope operation(context);
    StationView& view = context.view;
    view.HideResult();
    view.SetDevTimerRunning(false);
    view.SetActionButtonsEnabled(false);

    VerifyVerdict verdict = VerifyVerdict::None;
    switch (context.settings.IcType()) {
    case IcTypeKvqm31x:
        verdict = VerifyKvqm31x(context, operation.image);
        break;
    case IcTypeKvqm42xx:
    case IcTypeKvqm537:
        verdict = VerifyKvqm42xx(context, operation.image);
        break;
    default:
        break;
    }

    view.HideBusyWindow();
    view.PumpMessages();
    OfferActionButtons(context);
    ResumePolling(context);
    view.PumpMessages();
    return verdict;
}

} // namespace vrax
