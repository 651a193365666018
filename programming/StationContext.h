#pragma once

#include "device/Clock.h"
#include "device/MouseLinks.h"
#include "programming/JobOutcome.h"
#include "programming/Lang.h"
#include "programming/StationSettings.h"
#include "programming/StationState.h"
#include "programming/StationView.h"

namespace vrax {

// When the write job stamps a serial number.
enum class StampMoment {
    BeforeTheMouse, // at the job's start, before the mouse is touched
    RecordGoesOut,  // right before the factory record is written (the fields may have changed)
};

// The one who runs the jobs and answers for them (the operation runner): it admits an image
// and each serial number before they reach the mouse, throwing to refuse, and learns every
// verdict before it is shown. Called on the job's thread only. The default admits everything.
class JobGate {
public:
    virtual ~JobGate() = default;
    // Before anything of a write reaches the mouse; settings' FactoryType is the product type.
    virtual void AdmitImage(const ImageBuffer& /*image*/, StationSettings& /*settings*/) {}
    // Nothing is written to the mouse when a number is refused before the mouse.
    virtual void AdmitSerialNumber(int /*productType*/, int /*serialNumber*/, StampMoment) {}
    // The job's verdict, or the mismatch it shows, right before the window shows it. Throws
    // when the verdict must not be shown (its record could not be kept).
    virtual void Decided(const JobOutcome& /*outcome*/) {}
};

// Everything an operation touches, handed in by the program that owns it.
struct StationContext {
    StationState& state;
    const Lang& lang;
    MouseLinks& links;
    StationSettings& settings;
    StationView& view;
    Clock& clock;
    JobGate& gate;
};

// Why the operation's last failed transfer failed, as the platform said it; empty when none did.
inline const std::string& TransferFailureReason(const StationContext& context) {
    return context.links.LastTransferError();
}

// Why an operation that showed no verdict ended, judged from the mouse's last status reply.
inline std::string NoVerdictReasonOf(StationContext& context) {
    const MouseLink* link = context.links.For(context.settings.IcType());
    return link == nullptr ? NoAnswerReason : link->NoVerdictReason();
}

// Settles the job's verdict: the reason the records keep with it, then the gate, before the
// caller shows it.
inline void Decide(StationContext& context, JobOutcome& outcome, JobVerdict verdict) {
    outcome.verdict = verdict;
    if (outcome.mouseMismatch) {
        outcome.reason = MouseMismatchText;
    } else if (verdict != JobVerdict::Pass) {
        outcome.reason = TransferFailureReason(context);
    } else {
        outcome.reason.clear();
    }
    context.gate.Decided(outcome);
}

// The mouse is not the image's: decided as such before "BIN file not match Mouse" is shown.
inline void DecideMismatch(StationContext& context, JobOutcome& outcome) {
    outcome.mouseMismatch = true;
    outcome.reason = TransferFailureReason(context);
    context.gate.Decided(outcome);
}

// The job's outcome at its end: one that showed no verdict says why.
inline JobOutcome Finished(StationContext& context, JobOutcome outcome) {
    if (outcome.verdict == JobVerdict::None && !outcome.mouseMismatch) {
        outcome.reason = NoVerdictReasonOf(context);
    }
    return outcome;
}

// Marks an operation as running for its lifetime, takes the image it works on, and leaves the
// reason of the last transfer that failed on its way in LastTransferError and what it says
// without a verdict in NoVerdictReason.
class OperationScope {
public:
    explicit OperationScope(StationContext& context)
        : image{context.state.LoadedImage, context.state.LoadedTypeName}, context_(context) {
        ++context_.state.OperationsRunning;
        context_.links.ClearTransferErrors();
    }
    ~OperationScope() {
        --context_.state.OperationsRunning;
        context_.state.LastTransferError = TransferFailureReason(context_);
        context_.state.NoVerdictReason = NoVerdictReasonOf(context_);
    }
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

    ImageSnapshot image;

private:
    StationContext& context_;
};

// Starts DevTimer again at an operation's end; polling runs only while an image is loaded.
inline void ResumePolling(StationContext& context) {
    if (context.state.ImageLoaded) {
        context.view.SetDevTimerRunning(true);
    }
}

// The four action buttons at an operation's end. A load cancelled in the operation's message
// pumping leaves no image, and then none of them may be offered.
inline void OfferActionButtons(StationContext& context) {
    context.view.SetActionButtonsEnabled(context.state.ImageLoaded);
}

// Owns the run's state, texts and the links of every family; the window and the command line
// each make one, and a gang one per slot.
class Station {
public:
    Station(HidPlatform& platform, Clock& clock, StationSettings& settings, StationView& view)
        : links(platform, clock, view), clock_(clock), settings_(settings), view_(view) {}

    StationContext Context() { return {state, lang, links, settings_, view_, clock_, *gate_}; }
    // The operation runner that answers for this station's jobs; none: every job is admitted.
    void SetGate(JobGate* gate) { gate_ = gate != nullptr ? gate : &admitAll_; }

    // Opens the mouse of the IC type's family as the polling does; false for an item outside
    // the type list.
    bool OpenMouse(int icType, int vendorId, int productId) {
        return links.Open(icType, vendorId, productId);
    }

    StationState state;
    Lang lang;
    MouseLinks links;

private:
    Clock& clock_;
    StationSettings& settings_;
    StationView& view_;
    JobGate admitAll_;
    JobGate* gate_ = &admitAll_;
};

} // namespace vrax
