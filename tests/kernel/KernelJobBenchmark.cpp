#include "benchmarks/BenchmarkTable.h"
#include "benchmarks/ProtocolFloor.h"

#include "device/Clock.h"
#include "device/HidDiscovery.h"
#include "device/Kvqm31xLink.h"
#include "device/linux/HidrawPlatform.h"
#include "programming/BinImage.h"
#include "programming/QuietStationView.h"
#include "programming/StationContext.h"
#include "programming/WriteJob.h"
#include "tests/kernel/UsbMouseProcess.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>

// Write jobs through the real kernel (usbcore, usbhid, hidraw) on the guest's dummy USB
// controller, set against the same protocol floor as the simulated benchmark; the kernel's
// own share shows as the mean time of one feature report transfer. The guest is emulated
// (TCG), so every figure holds for that machine only.

namespace vrax {
namespace {

using std::chrono::microseconds;
using SteadyClock = std::chrono::steady_clock;

// Keeps every transfer for the floor and times the kernel's part of it.
class TimedPlatform final : public HidPlatform {
public:
    explicit TimedPlatform(HidPlatform& platform) : platform_(platform) {}

    std::vector<std::string> EnumerateInterfaces() override {
        return platform_.EnumerateInterfaces();
    }
    HidHandle Open(const std::string& path) override { return platform_.Open(path); }
    void Close(HidHandle handle) override { platform_.Close(handle); }
    bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
        return platform_.GetAttributes(handle, attributes);
    }
    std::uint16_t GetFeatureReportLength(HidHandle handle) override {
        return platform_.GetFeatureReportLength(handle);
    }
    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override {
        const auto start = SteadyClock::now();
        const bool ok = platform_.SetFeature(handle, buffer, length);
        Record(start, HidTraceEntry::Direction::Set, buffer, length, ok);
        return ok;
    }
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override {
        const auto start = SteadyClock::now();
        const bool ok = platform_.GetFeature(handle, buffer, length);
        Record(start, HidTraceEntry::Direction::Get, buffer, length, ok);
        return ok;
    }

    std::vector<HidTraceEntry> trace;
    microseconds inKernel{0};

private:
    void Record(SteadyClock::time_point start, HidTraceEntry::Direction direction,
                const std::uint8_t* buffer, std::size_t length, bool ok) {
        inKernel += std::chrono::duration_cast<microseconds>(SteadyClock::now() - start);
        HidTraceEntry entry;
        entry.direction = direction;
        entry.bytes.assign(buffer, buffer + length);
        entry.ok = ok;
        trace.push_back(std::move(entry));
    }

    HidPlatform& platform_;
};

void Measure(const char* subject, const char* family, int icType, HidAttributes ids) {
    const auto folder = std::filesystem::temp_directory_path() / "vrax-kernel-benchmark";
    std::filesystem::create_directories(folder);
    testing::UsbMouseProcess mouse(folder, {"--family", family});
    if (!mouse.Plug()) {
        PrintBenchmarkRow("Job vs protocol floor, real kernel (TCG guest)", subject,
                          "the mouse did not enumerate", "-", false);
        return;
    }
    HidrawPlatform hidraw;
    TimedPlatform platform(hidraw);
    RealClock clock;
    QuietStationView view;
    PlainSettings settings;
    settings.icType = icType;
    settings.format = DataFormat::Byte2K;
    Station station(platform, clock, settings, view);
    const bool opened = icType == IcTypeKvqm31x
                            ? static_cast<Kvqm31xLink*>(station.links.For(icType))
                                  ->Open(ids.vendorId, ids.productId, ids.versionNumber)
                            : station.OpenMouse(icType, ids.vendorId, ids.productId);
    ImageBuffer image{};
    for (int i = 0; i < ImageSize; ++i) {
        image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((i * 29 + 11) & 0xFF);
    }
    station.state.LoadedImage = image;
    station.state.LoadedTypeName = IcTypeName(icType);
    station.state.ImageLoaded = true;
    platform.trace.clear();
    platform.inKernel = microseconds(0);

    StationContext context = station.Context();
    const microseconds start = clock.Now();
    const bool passed = opened && RunWriteJob(context).Passed();
    const double wall = (clock.Now() - start).count() / 1e6;
    const ProtocolFloor floor = ProtocolFloorOf(platform.trace);
    const double floorSeconds =
        (floor.Total() + std::chrono::milliseconds(settings.sleepTime + 1)).count() / 1e6;
    const double perTransfer =
        platform.trace.empty() ? 0 : platform.inKernel.count() / 1e3 / platform.trace.size();
    std::string figure = FormatFigure("wall %.3f s", wall) +
                         FormatFigure(", floor %.3f s", floorSeconds) +
                         FormatFigure(", ratio %.3f", wall / floorSeconds) +
                         FormatFigure("; %.0f transfers", static_cast<double>(floor.transfers)) +
                         FormatFigure(" of %.2f ms each in the kernel", perTransfer);
    if (!passed) {
        figure += " (the job did not pass)";
    }
    PrintBenchmarkRow("Job vs protocol floor, real kernel (TCG guest)", subject, figure, "-",
                      std::nullopt);
    mouse.Unplug();
}

// The polling's ten counts with one mouse present, each interface's node asked every time.
void MeasurePolling() {
    const auto folder = std::filesystem::temp_directory_path() / "vrax-kernel-benchmark";
    std::filesystem::create_directories(folder);
    testing::UsbMouseProcess mouse(folder, {"--family", "kvqm42xx", "--variant", "two-interfaces"},
                                   2);
    if (!mouse.Plug()) {
        return;
    }
    HidrawPlatform platform;
    std::vector<double> ticks;
    int counted = 0;
    for (int tick = 0; tick < 21; ++tick) {
        const auto start = SteadyClock::now();
        for (int count = 0; count < 10; ++count) {
            counted = CountHidDevices(platform);
        }
        ticks.push_back(
            std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
    }
    std::sort(ticks.begin(), ticks.end());
    PrintBenchmarkRow("Polling tick (10 counts)",
                      "hidraw on the real kernel (TCG guest), " + std::to_string(counted) +
                          " interfaces",
                      FormatFigure("median %.3f ms", ticks[ticks.size() / 2]) +
                          FormatFigure(", p95 %.3f ms", ticks[ticks.size() * 95 / 100]),
                      "-", std::nullopt);
    mouse.Unplug();
}

} // namespace
} // namespace vrax

int main() {
    vrax::Measure("KVQM31X write, 2K Byte", "kvqm31x", vrax::IcTypeKvqm31x,
                  {0x3C5E, 0x0A31, 0x0104});
    vrax::Measure("KVQM42xx write, 2K Byte", "kvqm42xx", vrax::IcTypeKvqm42xx,
                  {0x3C5E, 0x0A42, 0x0100});
    vrax::MeasurePolling();
    return 0;
}
