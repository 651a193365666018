#include "BenchmarkTable.h"
#include "app/StationControls.h"

#include "app/AnimatedPicture.h"
#include "app/StationProgram.h"
#include "app/TForm1.h"
#include "app/TFormLoadingUI.h"
#include "device/Clock.h"
#include "device/SystemHidPlatform.h"
#include "programming/BinImage.h"
#include "sim/PlainHidDevice.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"

#include <QApplication>
#include <QEvent>
#include <QMovie>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

// The station program idling with DevTimer running, as between two mice on the line: its CPU
// share of one core and its resident memory over the idle stretch, and the time from the
// process start to the main window's first paint.
//   vrax-idle-benchmark [--seconds N] [--platform system|simulated] [--launched-at-ns NS]
//                       [--pause-busy-animation]
// --launched-at-ns is the CLOCK_REALTIME time the caller started the program at; without it the
// process start time of /proc (10 ms steps) is used. --pause-busy-animation stops the hidden busy
// window's animation, to show what it costs while nothing runs.

namespace vrax {
namespace {

constexpr int SettleMilliseconds = 3000;

double RealtimeSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double BoottimeSeconds() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Seconds since boot at which this process started; field 22 of /proc/self/stat.
double ProcessStartBoottime() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t afterName = text.rfind(')');
    if (afterName == std::string::npos) {
        return 0;
    }
    const char* field = text.c_str() + afterName + 2;
    // Field 3 (state) is where this points; starttime is field 22.
    for (int i = 3; i < 22 && field != nullptr; ++i) {
        field = std::strchr(field, ' ');
        field = field ? field + 1 : nullptr;
    }
    return field ? std::strtod(field, nullptr) / static_cast<double>(sysconf(_SC_CLK_TCK)) : 0;
}

double StatusMegabytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::strtod(line.c_str() + std::strlen(key), nullptr) / 1024.0;
        }
    }
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class FirstPaintWatch final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && paintedAt == 0) {
            paintedAt = RealtimeSeconds();
            paintedAtBoottime = BoottimeSeconds();
        }
        return QObject::eventFilter(watched, event);
    }
    double paintedAt = 0;
    double paintedAtBoottime = 0;
};

struct Options {
    int seconds = 60;
    bool simulated = false;
    double launchedAt = 0;
    bool pauseBusyAnimation = false;
};

std::string WriteImageFile() {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("vrax-idle-benchmark-" + std::to_string(getpid()) + ".bin");
    std::ofstream file(path, std::ios::binary);
    for (int i = 0; i < ImageSize; ++i) {
        file.put(static_cast<char>(i & 0xFF));
    }
    return path.string();
}

int Run(int argc, char** argv, const Options& options) {
    const double mainEntered = RealtimeSeconds();
    RealClock clock;
    std::unique_ptr<HidPlatform> platform;
    std::shared_ptr<VirtualMouse31x> mouse;
    if (options.simulated) {
        auto bus = std::make_unique<SimulatedHidBus>(clock);
        bus->Plug(std::make_shared<PlainHidDevice>());
        mouse = std::make_shared<VirtualMouse31x>();
        bus->Plug(mouse);
        platform = std::move(bus);
    } else {
        platform = MakeSystemHidPlatform();
    }
    const std::string imagePath = WriteImageFile();

    FirstPaintWatch paintWatch;
    double idleStart = 0;
    double idleStartCpu = 0;
    StationProgramOptions programOptions;
    programOptions.instanceKey = QString("vrax-idle-benchmark-%1").arg(getpid());
    programOptions.defaultRecords = "none";
    programOptions.onWindowCreated = [&](TForm1& form) {
        form.installEventFilter(&paintWatch);
        StationContext context = form.GetStation().Context();
        BeginLoad(context);
        LoadBinFile(context, imagePath);
        std::filesystem::remove(imagePath);
        if (options.pauseBusyAnimation) {
            FindControl<TFormLoadingUI>(form, "FormLoadingUI")
                ->WaitGif->Animation()
                ->setPaused(true);
        }
        QTimer::singleShot(SettleMilliseconds, &form, [&] {
            idleStart = RealtimeSeconds();
            idleStartCpu = CpuSeconds();
        });
        QTimer::singleShot(SettleMilliseconds + options.seconds * 1000, &form, [&, window = &form] {
            const double wall = RealtimeSeconds() - idleStart;
            const double cpu = CpuSeconds() - idleStartCpu;
            const double share = 100.0 * cpu / wall;
            const double rss = StatusMegabytes("VmRSS:");
            const double peak = StatusMegabytes("VmHWM:");
            const std::string subject =
                std::string(options.simulated ? "simulated bus, mouse ready" : "machine's HID") +
                ", " + QApplication::platformName().toStdString() +
                (options.pauseBusyAnimation ? ", busy animation paused" : "");
            const std::string stretch = std::to_string(options.seconds) + " s";
            PrintBenchmarkRow("Idle, DevTimer running (" + stretch + ")", subject,
                              FormatFigure("CPU %.3f %% of one core", share) +
                                  FormatFigure(" (%.3f s", cpu) + FormatFigure(" in %.1f s)", wall),
                              "< 0.5 %", share < 0.5);
            PrintBenchmarkRow("Idle, DevTimer running (" + stretch + ")", subject,
                              FormatFigure("RSS %.1f MB", rss) +
                                  FormatFigure(" (peak %.1f MB)", peak),
                              "< 60 MB", rss < 60.0);
            const double startToPaint = options.launchedAt > 0
                                            ? paintWatch.paintedAt - options.launchedAt
                                            : paintWatch.paintedAtBoottime - ProcessStartBoottime();
            PrintBenchmarkRow(
                "Start to first paint", subject,
                FormatFigure("%.3f s", startToPaint) +
                    FormatFigure(" (main to paint %.3f s)", paintWatch.paintedAt - mainEntered),
                "< 0.5 s", paintWatch.paintedAt > 0 && startToPaint < 0.5);
            // Closing ends the process at once, as it does for the operator.
            window->close();
        });
    };
    return RunStationProgram(argc, argv, *platform, clock, programOptions);
}

} // namespace
} // namespace vrax

int main(int argc, char** argv) {
    vrax::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--seconds" && i + 1 < argc) {
            options.seconds = std::max(1, std::atoi(argv[++i]));
        } else if (argument == "--platform" && i + 1 < argc) {
            options.simulated = std::strcmp(argv[++i], "simulated") == 0;
        } else if (argument == "--pause-busy-animation") {
            options.pauseBusyAnimation = true;
        } else if (argument == "--launched-at-ns" && i + 1 < argc) {
            options.launchedAt = std::strtod(argv[++i], nullptr) / 1e9;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--seconds N] [--platform system|simulated] "
                         "[--launched-at-ns NS] [--pause-busy-animation]\n",
                         argv[0]);
            return 2;
        }
    }
    int qtArgc = 1;
    return vrax::Run(qtArgc, argv, options);
}
