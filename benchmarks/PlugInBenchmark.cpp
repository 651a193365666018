#include "BenchmarkTable.h"
#include "app/StationControls.h"

#include "app/DropDownComboBox.h"
#include "app/InstantPlugIn.h"
#include "app/ScriptedDialogs.h"
#include "app/TForm1.h"
#include "app/TFormLoadingUI.h"
#include "device/Clock.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse42xx.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

// From the plug of a mouse to the busy window of its Auto Write job, on the simulated bus with
// the real clock: DevTimer's second alone, and with the instant plug-in on top. Each plug comes
// at a random moment of the timer's second; the KVQM42xx job keeps the run short.

namespace vrax {
namespace {

using Steady = std::chrono::steady_clock;

class ShowWatch final : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show && !shown) {
            shown = Steady::now();
        }
        return false;
    }
    std::optional<Steady::time_point> shown;
};

void PumpFor(std::chrono::milliseconds span) {
    const auto end = Steady::now() + span;
    while (Steady::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

template <typename Done> bool PumpUntil(Done done, std::chrono::milliseconds limit) {
    const auto end = Steady::now() + limit;
    while (!done()) {
        if (Steady::now() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

struct Figures {
    double medianMs = 0;
    double p95Ms = 0;
    double meanMs = 0;
    int missed = 0;
};

Figures Measure(bool instant, int plugs, const std::string& imagePath) {
    RealClock clock;
    SimulatedHidBus bus(clock);
    ScriptedDialogs dialogs;
    TForm1 form(bus, clock, dialogs);
    form.SetExitAction([](int) {});
    InstantPlugIn instantPlugIn(form);
    if (instant) {
        bus.SetPlugListener([&instantPlugIn] { instantPlugIn.DeviceChanged(); });
    }
    form.show();
    FindControl<DropDownComboBox>(form, "cb_ICType")->setCurrentIndex(1);
    form.RunGuarded(
        [&] { form.cb_ICTypeChange(FindControl<DropDownComboBox>(form, "cb_ICType")); });
    FindControl<QCheckBox>(form, "cb_AutoRun")->click();
    dialogs.openAnswers.push_back(QString::fromStdString(imagePath));
    FindControl<QPushButton>(form, "btn_Load")->click();
    ShowWatch watch;
    FindControl<TFormLoadingUI>(form, "FormLoadingUI")->installEventFilter(&watch);

    std::mt19937 random(42);
    std::uniform_int_distribution<int> phase(0, 999);
    std::vector<double> latencies;
    Figures figures;
    for (int plug = 0; plug < plugs; ++plug) {
        PumpFor(std::chrono::milliseconds(phase(random)));
        watch.shown.reset();
        const auto plugged = Steady::now();
        const auto id = bus.Plug(std::make_shared<VirtualMouse42xx>());
        if (!PumpUntil(
                [&] {
                    return watch.shown.has_value() &&
                           FindControl<QTimer>(form, "DevTimer")->isActive();
                },
                std::chrono::milliseconds(5000))) {
            ++figures.missed;
        } else {
            latencies.push_back(
                std::chrono::duration<double, std::milli>(*watch.shown - plugged).count());
        }
        bus.Unplug(id);
        PumpUntil(
            [&] { return FindControl<QLabel>(form, "lbl_DevStatus")->text() == "No Find Mouse"; },
            std::chrono::milliseconds(5000));
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        figures.medianMs = latencies[latencies.size() / 2];
        figures.p95Ms = latencies[std::min(latencies.size() - 1, latencies.size() * 95 / 100)];
        double sum = 0;
        for (const double latency : latencies) {
            sum += latency;
        }
        figures.meanMs = sum / static_cast<double>(latencies.size());
    }
    return figures;
}

} // namespace
} // namespace vrax

int main(int argc, char** argv) {
    int plugs = 50;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plugs") == 0 && i + 1 < argc) {
            plugs = std::max(1, std::atoi(argv[++i]));
        }
    }
    QApplication application(argc, argv);
    const std::string imagePath = QDir::temp().filePath("vrax-plug-in-benchmark.bin").toStdString();
    std::ofstream(imagePath, std::ios::binary) << std::string(2048, '\x5A');
    for (const bool instant : {false, true}) {
        const vrax::Figures figures = vrax::Measure(instant, plugs, imagePath);
        const std::string subject = std::string("simulated bus, real clock, ") +
                                    (instant ? "instant plug-in" : "DevTimer alone") + ", " +
                                    std::to_string(plugs) + " plugs";
        std::string figure = vrax::FormatFigure("median %.0f ms", figures.medianMs) +
                             vrax::FormatFigure(", p95 %.0f ms", figures.p95Ms) +
                             vrax::FormatFigure(", mean %.0f ms", figures.meanMs);
        if (figures.missed > 0) {
            figure += ", " + std::to_string(figures.missed) + " never busy";
        }
        vrax::PrintBenchmarkRow("Plug-in to busy window", subject, figure, "-", std::nullopt);
    }
    std::remove(imagePath.c_str());
    return 0;
}
