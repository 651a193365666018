#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/StationProgram.h"
#include "app/TForm1.h"
#include "app/TFormLoadingUI.h"
#include "device/Clock.h"
#include "device/DeviceArrivalSource.h"
#include "device/SystemHidPlatform.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <atomic>
#include <thread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

// The station program as vrax-bin-writer.exe runs it (the system's HID libraries, the real
// clock, the instant plug-in on the system's device messages), with the operator's part
// played: 2K Byte, Write Product ID and Auto Write on, the image loaded. It prints what the
// operator would see, each line with the wall clock in microseconds, and closes its window once
// MICE verdicts have been shown and the last mouse is gone.
//   vrax-station-kernel-probe IMAGE RECORDS MICE

namespace {

long long Now() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Say(const char* what, const QString& text = {}) {
    std::printf("%lld %s %s\n", Now(), what, qPrintable(text));
    std::fflush(stdout);
}

class ShowWatch final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            Say("busy");
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: vrax-station-kernel-probe IMAGE RECORDS MICE\n");
        return 2;
    }
    const QString image = QString::fromLocal8Bit(argv[1]);
    const int mice = std::atoi(argv[3]);
    const std::unique_ptr<vrax::HidPlatform> platform = vrax::MakeSystemHidPlatform();
    vrax::RealClock clock(vrax::RealClock::FineTimer::HeldByCaller);
    vrax::ScriptedDialogs dialogs;
    dialogs.openAnswers.push_back(image);
    // When the system's word arrives, beside the window's own listener.
    const auto arrivals = vrax::WatchSystemDeviceArrivals([] { Say("device-message"); });

    vrax::StationProgramOptions options;
    options.instanceKey = "vrax-station-kernel-probe";
    options.defaultRecords = QString::fromLocal8Bit(argv[2]);
    options.dialogs = &dialogs;
    options.onWindowCreated = [mice](vrax::TForm1& form) {
        form.SelectLanguage(1033);
        vrax::FindControl<vrax::TFormLoadingUI>(form, "FormLoadingUI")
            ->installEventFilter(new ShowWatch(&form));
        vrax::FindControl<QCheckBox>(form, "cb_WriteID")->setChecked(true);
        vrax::FindControl<QRadioButton>(form, "rb_CmdByte2K")->setChecked(true);
        vrax::FindControl<QCheckBox>(form, "cb_AutoRun")->click();
        vrax::FindControl<QPushButton>(form, "btn_Load")->click();
        Say(form.State().ImageLoaded ? "loaded" : "not-loaded");
        auto* watch = new QTimer(&form);
        QObject::connect(watch, &QTimer::timeout, &form, [&form, mice, watch] {
            static QString status, result;
            static int verdicts = 0, count = -1;
            // A rise absorbed without "Mouse Ready" is a mouse the open missed.
            if (form.LastDeviceCount != count) {
                count = form.LastDeviceCount;
                Say("count", QString::number(count));
            }
            const QString shown = vrax::FindControl<QLabel>(form, "lbl_CtrlResult")->isVisible()
                                      ? vrax::FindControl<QLabel>(form, "lbl_CtrlResult")->text()
                                      : QString();
            if (shown != result) {
                result = shown;
                if (!shown.isEmpty()) {
                    ++verdicts;
                    Say("result", shown);
                }
            }
            if (vrax::FindControl<QLabel>(form, "lbl_DevStatus")->text() != status) {
                status = vrax::FindControl<QLabel>(form, "lbl_DevStatus")->text();
                Say("status", status);
                if (verdicts >= mice && status == "No Find Mouse") {
                    watch->stop();
                    form.close();
                }
            }
        });
        watch->start(5);
        QObject::connect(vrax::FindControl<QTimer>(form, "DevTimer"), &QTimer::timeout, &form,
                         [] { Say("tick"); });
        // Says when the window's thread stops answering: a wait inside a handler shows here.
        static std::atomic<long long> answered{Now()};
        std::thread([&form] {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::seconds(2));
                QMetaObject::invokeMethod(
                    &form, [] { answered = Now(); }, Qt::QueuedConnection);
                if (Now() - answered > 3'000'000) {
                    Say("window-thread-silent-for-ms", QString::number((Now() - answered) / 1000));
                }
            }
        }).detach();
    };
    return vrax::RunStationProgram(argc, argv, *platform, clock, options);
}
