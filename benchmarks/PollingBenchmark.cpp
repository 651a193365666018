#include "BenchmarkTable.h"
#include "app/StationControls.h"

#include "app/ScriptedDialogs.h"
#include "app/TForm1.h"
#include "device/Clock.h"
#include "device/HidDiscovery.h"
#include "sim/PlainHidDevice.h"
#include "sim/SimulatedHidBus.h"

#ifdef __linux__
#include "device/linux/HidrawPlatform.h"
#include "tests/hidraw/FakeHidraw.h"
#endif

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

// The cost of one DevTimerTimer tick (ten counts of the interfaces) in the steady state, where
// nothing was plugged or unplugged since the last tick: what the window pays every second.

namespace vrax {
namespace {

constexpr int WarmUpTicks = 20;
constexpr int MeasuredTicks = 300;

struct TickFigures {
    double medianMs = 0;
    double p95Ms = 0;
    // Processor time of the thread, which a busy machine does not stretch.
    double medianCpuMs = 0;
    int counted = 0;
};

double ThreadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Median(std::vector<double>& values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

TickFigures MeasureTicks(HidPlatform& platform) {
    RealClock clock;
    ScriptedDialogs dialogs;
    TForm1 form(platform, clock, dialogs);
    form.SetExitAction([](int) {});
    TickFigures figures;
    figures.counted = CountHidDevices(platform);
    form.LastDeviceCount = figures.counted;
    const auto tick = [&] {
        form.RunGuarded([&] { form.DevTimerTimer(FindControl<QTimer>(form, "DevTimer")); });
    };
    for (int i = 0; i < WarmUpTicks; ++i) {
        tick();
    }
    std::vector<double> milliseconds;
    std::vector<double> cpuMilliseconds;
    for (int i = 0; i < MeasuredTicks; ++i) {
        const double cpuStart = ThreadCpuMilliseconds();
        const auto start = std::chrono::steady_clock::now();
        tick();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        milliseconds.push_back(took.count());
        cpuMilliseconds.push_back(ThreadCpuMilliseconds() - cpuStart);
    }
    figures.medianMs = Median(milliseconds);
    figures.p95Ms = milliseconds[milliseconds.size() * 95 / 100];
    figures.medianCpuMs = Median(cpuMilliseconds);
    return figures;
}

void Report(const std::string& backend, int interfaces, const TickFigures& figures) {
    std::string figure = FormatFigure("median %.3f ms", figures.medianMs) +
                         FormatFigure(" (CPU %.3f ms)", figures.medianCpuMs) +
                         FormatFigure(", p95 %.3f ms", figures.p95Ms);
    if (figures.counted != interfaces) {
        figure += " (counted " + std::to_string(figures.counted) + ")";
    }
    const bool targeted = interfaces == 20;
    PrintBenchmarkRow(
        "Polling tick (10 counts)", backend + ", " + std::to_string(interfaces) + " interfaces",
        figure, targeted ? "< 2 ms" : "-",
        targeted ? std::optional<bool>(figures.medianMs < 2.0 && figures.counted == interfaces)
                 : std::nullopt);
}

void SimulatedBus(int interfaces) {
    VirtualClock clock;
    SimulatedHidBus bus(clock);
    for (int i = 0; i < interfaces; ++i) {
        bus.Plug(std::make_shared<PlainHidDevice>(PlainHidDevice::KeyboardAttributes, 1));
    }
    Report("simulated bus", interfaces, MeasureTicks(bus));
}

#ifdef __linux__
void HidrawFakeTree(int interfaces) {
    test::FakeHidrawMachine machine;
    for (int i = 0; i < interfaces; ++i) {
        test::FakeInterface node;
        node.node = "hidraw" + std::to_string(i);
        node.product = static_cast<std::uint16_t>(0x1000 + i);
        machine.Add(node);
    }
    HidrawPlatform platform(machine.root, machine.calls);
    Report("hidraw over a fake sysfs tree", interfaces, MeasureTicks(platform));
}
#endif

} // namespace
} // namespace vrax

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    for (const int interfaces : {1, 20, 100}) {
        vrax::SimulatedBus(interfaces);
    }
#ifdef __linux__
    for (const int interfaces : {1, 20, 100}) {
        vrax::HidrawFakeTree(interfaces);
    }
#endif
    return 0;
}
