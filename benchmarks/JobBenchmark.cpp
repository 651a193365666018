#include "BenchmarkTable.h"
#include "ProtocolFloor.h"

#include "device/Clock.h"
#include "programming/BinImage.h"
#include "programming/QuietStationView.h"
#include "programming/StationContext.h"
#include "programming/Verify.h"
#include "programming/WriteJob.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// Runs complete jobs against virtual mice and sets each job's wall time against its protocol
// floor: the waits the links must make for exactly the transfers in the job's trace, plus the
// settle wait. With --check-floor-model the jobs run on the virtual clock instead, where the
// elapsed time must equal the floor to the microsecond; that keeps the floor model honest.

namespace vrax {
namespace {

using std::chrono::microseconds;

// The window reduced to nothing: the figures are those of the operations and the links.
enum class Operation { Write, Verify };

struct BenchmarkJob {
    const char* name;
    int icType;
    DataFormat format;
    bool writeProductId;
    Operation operation;
};

const BenchmarkJob Jobs[] = {
    {"KVQM31X write, 2K Byte", IcTypeKvqm31x, DataFormat::Byte2K, false, Operation::Write},
    {"KVQM31X write, 2K Byte + Product ID", IcTypeKvqm31x, DataFormat::Byte2K, true,
     Operation::Write},
    {"KVQM31X write, 256 Byte x 8", IcTypeKvqm31x, DataFormat::Byte256, false, Operation::Write},
    {"KVQM31X write, 256 Byte x 8 + Product ID", IcTypeKvqm31x, DataFormat::Byte256, true,
     Operation::Write},
    {"KVQM31X write, Custom (default ranges)", IcTypeKvqm31x, DataFormat::Custom, false,
     Operation::Write},
    {"KVQM31X write, Custom + Product ID", IcTypeKvqm31x, DataFormat::Custom, true,
     Operation::Write},
    {"KVQM42xx write, 2K Byte", IcTypeKvqm42xx, DataFormat::Byte2K, false, Operation::Write},
    {"KVQM42xx verify", IcTypeKvqm42xx, DataFormat::Byte2K, false, Operation::Verify},
};

struct JobResult {
    bool passed = false;
    microseconds elapsed{0};
    microseconds floor{0};
    int transfers = 0;
};

JobResult RunJob(Clock& clock, const BenchmarkJob& job, const ImageBuffer& image) {
    SimulatedHidBus bus(clock);
    QuietStationView view;
    PlainSettings settings;
    settings.icType = job.icType;
    settings.format = job.format;
    settings.writeProductId = job.writeProductId;
    Station station(bus, clock, settings, view);

    std::shared_ptr<VirtualMouse> mouse;
    if (job.icType == IcTypeKvqm31x) {
        mouse = std::make_shared<VirtualMouse31x>();
    } else {
        mouse = std::make_shared<VirtualMouse42xx>();
    }
    bus.Plug(mouse);
    const MouseType& type = MouseTypes[job.icType];
    station.OpenMouse(job.icType, type.vendorId, type.productId);
    if (job.operation == Operation::Verify) {
        mouse->Memory() = image;
    }
    station.state.LoadedImage = image;
    station.state.LoadedTypeName = IcTypeName(job.icType);
    station.state.ImageLoaded = true;
    bus.SetTraceEnabled(true);

    StationContext context = station.Context();
    JobResult result;
    const microseconds start = clock.Now();
    if (job.operation == Operation::Write) {
        result.passed = RunWriteJob(context).Passed();
    } else {
        result.passed = RunVerify(context).Passed();
    }
    result.elapsed = clock.Now() - start;

    const ProtocolFloor floor = ProtocolFloorOf(bus.Trace());
    result.floor = floor.Total();
    if (job.operation == Operation::Write) {
        result.floor += std::chrono::milliseconds(settings.sleepTime + 1);
    }
    result.transfers = floor.transfers;
    return result;
}

ImageBuffer TestImage() {
    ImageBuffer image{};
    for (int i = 0; i < ImageSize; ++i) {
        image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((i * 29 + 11) & 0xFF);
    }
    return image;
}

int CheckFloorModel() {
    int failures = 0;
    for (const BenchmarkJob& job : Jobs) {
        VirtualClock clock;
        const JobResult result = RunJob(clock, job, TestImage());
        const bool exact = result.passed && result.elapsed == result.floor;
        std::printf("%-45s %6d transfers, virtual %9lld us, floor %9lld us  %s\n", job.name,
                    result.transfers, static_cast<long long>(result.elapsed.count()),
                    static_cast<long long>(result.floor.count()), exact ? "exact" : "DIFFERS");
        failures += exact ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}

int Measure(int repeats) {
    RealClock clock;
    for (const BenchmarkJob& job : Jobs) {
        std::vector<JobResult> results;
        for (int i = 0; i < repeats; ++i) {
            results.push_back(RunJob(clock, job, TestImage()));
        }
        std::sort(results.begin(), results.end(), [](const JobResult& a, const JobResult& b) {
            return a.elapsed.count() * b.floor.count() < b.elapsed.count() * a.floor.count();
        });
        const JobResult& median = results[results.size() / 2];
        const bool allPassed = std::all_of(results.begin(), results.end(),
                                           [](const JobResult& r) { return r.passed; });
        const double wall = median.elapsed.count() / 1e6;
        const double floor = median.floor.count() / 1e6;
        const double ratio = wall / floor;
        std::string figure = FormatFigure("wall %.3f s", wall) +
                             FormatFigure(", floor %.3f s", floor) +
                             FormatFigure(", ratio %.3f", ratio);
        if (!allPassed) {
            figure += " (a job did not pass)";
        }
        PrintBenchmarkRow("Job vs protocol floor", job.name, figure, "ratio <= 1.03",
                          allPassed && ratio <= 1.03);
    }
    return 0;
}

} // namespace
} // namespace vrax

int main(int argc, char** argv) {
    int repeats = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check-floor-model") == 0) {
            return vrax::CheckFloorModel();
        }
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeats = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--repeat N] [--check-floor-model]\n", argv[0]);
            return 2;
        }
    }
    return vrax::Measure(repeats);
}
