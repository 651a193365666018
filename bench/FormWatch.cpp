#include "FormWatch.h"
#include "app/StationControls.h"

#include "app/TForm1.h"
#include "device/HidDiscovery.h"
#include "sim/SimulatedHidBus.h"

#include <QCheckBox>
#include <QLabel>
#include <QTimer>

namespace vrax {

StationSnapshot FormWatch::Look() {
    StationSnapshot snapshot;
    snapshot.imageLoaded = form_.State().ImageLoaded;
    // Every job stops DevTimer for its duration; a tick runs its job inside PollBusy.
    snapshot.busy = form_.PollBusy || !FindControl<QTimer>(form_, "DevTimer")->isActive();
    snapshot.acceptedCount = form_.LastDeviceCount;
    snapshot.presentCount = CountHidDevices(bus_);
    snapshot.autoWrite = FindControl<QCheckBox>(form_, "cb_AutoRun")->isChecked();
    snapshot.icType = form_.IcType();
    snapshot.verdict = ShownVerdict();
    snapshot.passCount = FindControl<QLabel>(form_, "lbl_PassCnt")->text().toInt();
    return snapshot;
}

Verdict FormWatch::ShownVerdict() const {
    if (!FindControl<QLabel>(form_, "lbl_CtrlResult")->isHidden()) {
        const QString text = FindControl<QLabel>(form_, "lbl_CtrlResult")->text();
        if (text == QString::fromLocal8Bit(form_.Language().Text(12).c_str())) {
            return Verdict::WritePass;
        }
        if (text == QString::fromLocal8Bit(form_.Language().Text(13).c_str())) {
            return Verdict::WriteFail;
        }
    }
    if (!FindControl<QLabel>(form_, "lbl_BINDevError")->isHidden()) {
        return Verdict::MouseMismatch;
    }
    return Verdict::None;
}

} // namespace vrax
