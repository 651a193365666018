#include "cli/ProductionLine.h"

#include "cli/CommandLineView.h"
#include "cli/JobEvents.h"
#include "cli/OneMousePlatform.h"
#include "cli/ProductionLog.h"
#include "device/HidDiscovery.h"
#include "device/NullHidPlatform.h"
#include "device/RememberingHidPlatform.h"
#include "device/SystemHidPlatform.h"
#include "operations/OperationRunner.h"
#include "programming/BinImage.h"
#include "programming/FactoryRecord.h"
#include "programming/StationContext.h"
#include "records/ImageApprovalCheck.h"
#include "records/Utf8Text.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace vrax {

namespace {

std::atomic<bool> stopRequested{false};

constexpr auto TickInterval = std::chrono::milliseconds(1000);
// Windows makes a composite mouse's interfaces one after another, under Wine seconds apart: a
// mouse whose interfaces are named apart is taken once none has joined it for this long, so
// that no job starts on part of it.
constexpr auto InterfacesSettle = std::chrono::milliseconds(3000);

std::string Hex6(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(value));
    return text;
}

// The polling tick's sampling: five pairs of enumerations; a change counts when at least two
// pairs agreed. Empty optional: not stable yet.
std::optional<std::vector<std::string>> StableInterfaces(HidPlatform& devices) {
    return StableSample([&] { return devices.EnumerateInterfaces(); });
}

} // namespace

struct ProductionLine::Tally {
    std::mutex mutex;
    std::condition_variable changed;
    HidPlatform* devices = nullptr;
    SimulatedHidBus* bus = nullptr;
    StationState image;    // LoadedImage, LoadedTypeName and ImageLoaded as loaded once
    std::string imageFile; // as the records keep it
    int nextSerial = 0;    // the window's advance, when the records do not hand them out
    long verdicts = 0;
    long passes = 0;
    int finished = 0;                    // since the main loop last looked
    std::string error;                   // stops the line
    std::vector<std::string> unrecorded; // mice programmed whose record could not be stored
    ImageApprovalCheck* approvals = nullptr;
};

ProductionLine::ProductionLine(const CommandLineOptions& options, ProductionRecords& records,
                               ProductionLog* log, JobEvents* events, std::ostream& out,
                               std::ostream& err)
    : options_(options), records_(records), log_(log), events_(events), out_(out), err_(err) {}

void ProductionLine::RequestStop() {
    stopRequested = true;
}

int ProductionLine::Run() {
    stopRequested = false;
    Tally tally;
    {
        NullHidPlatform nothing;
        VirtualClock clock;
        PlainSettings settings = options_.settings;
        ProgressBar quiet(err_, false);
        CommandLineView view(quiet);
        Station loader(nothing, clock, settings, view);
        StationContext context = loader.Context();
        BeginLoad(context);
        if (LoadBinFile(context, options_.path) != LoadOutcome::Loaded) {
            for (const std::string& line : view.VisibleTexts(loader.lang)) {
                (events_ ? err_ : out_) << line << '\n';
            }
            return 2;
        }
        tally.image = loader.state;
        tally.imageFile = options_.recordsChoice == "none"
                              ? ExpandFileName(options_.path)
                              : Utf8FileName(ExpandFileName(options_.path));
    }
    tally.nextSerial = options_.settings.factoryNumber;
    ImageApprovalCheck approvals(records_);
    tally.approvals = &approvals;
    try {
        // An image the records do not approve stops the line before it waits for a mouse.
        PlainSettings settings = options_.settings;
        approvals.Require(tally.image.LoadedImage, settings, tally.imageFile);
    } catch (const StationError& error) {
        err_ << error.what() << '\n';
        return 2;
    }

    RealClock busClock;
    std::unique_ptr<SimulatedHidBus> bus;
    std::unique_ptr<HidPlatform> hardware;
    if (options_.simulation) {
        bus = std::make_unique<SimulatedHidBus>(busClock);
        tally.devices = bus.get();
        tally.bus = bus.get();
    } else {
        hardware = MakeSystemHidPlatform();
        tally.devices = hardware.get();
    }

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers;
    std::map<std::string, std::string> known; // path to its connection
    std::map<std::string, SimulatedHidBus::DeviceId> simulatedByKey;
    std::vector<Arrival> waiting;
    int simulatedPlugged = 0;
    // Verdicts only: a device that is no mouse of the family (Windows always has a few) ends
    // its worker without one and must not use up the line.
    const long limit = options_.maxMice.value_or(-1);

    const auto collect = [&workers] {
        for (auto worker = workers.begin(); worker != workers.end();) {
            if (*worker->done) {
                worker->thread.join();
                worker = workers.erase(worker);
            } else {
                ++worker;
            }
        }
    };

    bool waitsStopped = false;
    for (;;) {
        collect();
        bool stopping = stopRequested;
        long verdicts = 0;
        {
            std::lock_guard lock(tally.mutex);
            verdicts = tally.verdicts;
            stopping = stopping || !tally.error.empty() || (limit >= 0 && verdicts >= limit);
            tally.finished = 0;
        }
        // Ctrl+C ends a wait for the records within a few seconds, whoever holds them.
        if (stopRequested && !waitsStopped) {
            records_.StopWaiting();
            waitsStopped = true;
        }
        if (bus && !stopping) {
            // Virtual mice are plugged one after another, as many at a time as the gang takes.
            const int present = static_cast<int>(bus->PluggedDevices().size());
            for (int i = present; i < options_.gang && simulatedPlugged < options_.simulatedMice &&
                                  (limit < 0 || simulatedPlugged < limit);
                 ++i) {
                std::shared_ptr<VirtualMouse> mouse;
                if (options_.simulation->family == MouseFamily::Kvqm31x) {
                    mouse = std::make_shared<VirtualMouse31x>();
                } else {
                    mouse = std::make_shared<VirtualMouse42xx>();
                }
                ++simulatedPlugged;
                const int every = options_.simulatedFaultyEvery;
                if (every > 0 && simulatedPlugged % every == 0) {
                    mouse->SetFaults(options_.simulation->faults);
                }
                const SimulatedHidBus::DeviceId id = bus->Plug(mouse);
                simulatedByKey[bus->DeviceOfInterface(bus->InterfacePath(id, 0))] = id;
            }
        }
        if (!stopping) {
            if (const auto present = StableInterfaces(*tally.devices)) {
                const std::set<std::string> now(present->begin(), present->end());
                for (auto path = known.begin(); path != known.end();) {
                    path = now.count(path->first) ? std::next(path) : known.erase(path);
                }
                std::map<std::string, std::vector<std::string>> fresh;
                for (const std::string& path : *present) {
                    // A mouse swapped for the next between two ticks may come back at the
                    // same node: its connection tells.
                    std::string connection = tally.devices->ConnectionOfInterface(path);
                    const auto [entry, added] = known.try_emplace(path, connection);
                    if (added || entry->second != connection) {
                        entry->second = std::move(connection);
                        fresh[tally.devices->DeviceOfInterface(path)].push_back(path);
                    }
                }
                for (auto& [key, paths] : fresh) {
                    const std::string& device = key; // a lambda cannot capture a binding
                    const auto same =
                        std::find_if(waiting.begin(), waiting.end(),
                                     [&device](const Arrival& a) { return a.key == device; });
                    if (same != waiting.end()) {
                        same->paths.insert(same->paths.end(), paths.begin(), paths.end());
                        same->grown = std::chrono::steady_clock::now();
                        continue;
                    }
                    const auto simulated = simulatedByKey.find(key);
                    waiting.push_back({key, std::move(paths),
                                       simulated == simulatedByKey.end() ? 0 : simulated->second,
                                       std::chrono::steady_clock::now()});
                }
            }
        }
        const auto settled = [&bus](const Arrival& arrival) {
            const bool namedApart =
                std::any_of(arrival.paths.begin(), arrival.paths.end(), [](const std::string& p) {
                    return p.find("&mi_") != std::string::npos;
                });
            return bus || !namedApart ||
                   std::chrono::steady_clock::now() - arrival.grown >= InterfacesSettle;
        };
        for (auto next = std::find_if(waiting.begin(), waiting.end(), settled);
             !stopping && next != waiting.end() &&
             static_cast<int>(workers.size()) < options_.gang &&
             (limit < 0 || verdicts + static_cast<long>(workers.size()) < limit);
             next = std::find_if(waiting.begin(), waiting.end(), settled)) {
            const Arrival arrival = *next;
            waiting.erase(next);
            auto done = std::make_shared<std::atomic<bool>>(false);
            workers.push_back({std::thread([this, arrival, &tally, done] {
                                   Program(arrival, tally);
                                   std::lock_guard lock(tally.mutex);
                                   ++tally.finished;
                                   *done = true;
                                   tally.changed.notify_all();
                               }),
                               done});
        }
        const bool simulationOver =
            bus && simulatedPlugged >= options_.simulatedMice && waiting.empty();
        if ((stopping || simulationOver) && workers.empty()) {
            break;
        }
        if (stopping) {
            waiting.clear();
        }
        std::unique_lock lock(tally.mutex);
        tally.changed.wait_for(lock, TickInterval,
                               [&tally] { return tally.finished > 0 || stopRequested; });
    }
    collect();

    std::lock_guard lock(tally.mutex);
    const long fails = tally.verdicts - tally.passes;
    char yield[32];
    std::snprintf(yield, sizeof yield, "%.1f %%",
                  tally.verdicts ? 100.0 * static_cast<double>(tally.passes) /
                                       static_cast<double>(tally.verdicts)
                                 : 0.0);
    if (events_) {
        events_->Tally(tally.verdicts, tally.passes);
    } else {
        out_ << "Mice: " << tally.verdicts << ", passed " << tally.passes << ", failed " << fails
             << ", yield " << yield << '\n'
             << std::flush;
    }
    long unsent = 0;
    std::size_t aside = 0;
    try {
        unsent = records_.WaitingToSend();
        aside = records_.SetAside().size();
    } catch (const RecordsError& error) {
        tally.error += (tally.error.empty() ? "" : "\n") + std::string(error.what());
    }
    if (unsent > 0) {
        err_ << "Records waiting in this PC's outbox for the line database: " << unsent
             << " (sent by the next station that reaches the server)\n";
    }
    if (aside > 0) {
        err_ << "Set aside in this PC's outbox, refused by the line database: " << aside
             << " (records --summary lists them)\n";
    }
    if (!tally.error.empty()) {
        err_ << tally.error << '\n';
        if (!tally.unrecorded.empty()) {
            err_ << "The line stopped. Mice programmed without their record:\n";
            for (const std::string& mouse : tally.unrecorded) {
                err_ << "  " << mouse << '\n';
            }
        }
        return 2;
    }
    if (unsent > 0) {
        return 4;
    }
    return fails == 0 ? 0 : 1;
}

void ProductionLine::Program(const Arrival& arrival, Tally& tally) {
    std::unique_ptr<Clock> clock;
    if (options_.simulation && !options_.simulation->realTime) {
        clock = std::make_unique<VirtualClock>();
    } else {
        clock = std::make_unique<RealClock>();
    }
    OneMousePlatform mouse(*tally.devices, arrival.paths);
    RememberingHidPlatform devices(mouse);
    PlainSettings settings = options_.settings;
    ProgressBar quiet(err_, false);
    CommandLineView view(quiet);
    const std::string path = arrival.paths.empty() ? arrival.key : arrival.paths.front();
    if (events_) {
        view.SetChunkListener(
            [this, &path](int done, int total) { events_->Progress(path, done, total); });
    }
    Station station(devices, *clock, settings, view);
    {
        std::lock_guard lock(tally.mutex);
        station.state = tally.image;
    }
    const auto unplug = [&] {
        station.links.ForgetAll();
        if (tally.bus != nullptr && arrival.simulatedDevice != 0) {
            tally.bus->Unplug(arrival.simulatedDevice);
        }
    };

    // The settle wait of the tick that saw the mouse arrive.
    if (settings.sleepTime >= 0) {
        clock->SleepMilliseconds(static_cast<std::uint32_t>(settings.sleepTime) + 1);
    }
    if (!station.OpenMouse(settings.icType, options_.vendorId, options_.productId)) {
        unplug();
        return;
    }

    const MouseType* type = FindMouseType(settings.icType);
    const bool stamps = settings.writeProductId && type != nullptr && type->jobs.checkedWrite;
    const int productType = settings.factoryType & 0xFFFF;
    const auto stop = [&](const std::string& error) {
        // The first records failure stops the line: no other mouse waits out the deadline.
        records_.StopWaiting();
        std::lock_guard lock(tally.mutex);
        if (tally.error.empty()) {
            tally.error = error;
        }
    };
    // The mouse's line: its path, serial number and verdict or why it had none.
    const auto report = [&](const JobOutcome& job, const std::string& unrecorded) {
        std::lock_guard lock(tally.mutex);
        if (stamps && !options_.serialFromRecords && !job.Passed() &&
            tally.nextSerial == settings.factoryNumber + 1) {
            // As the window: a failed mouse's number goes to the next one.
            tally.nextSerial = settings.factoryNumber;
        }
        ++tally.verdicts;
        tally.passes += job.Passed() ? 1 : 0;
        if (!unrecorded.empty()) {
            tally.unrecorded.push_back(unrecorded);
        }
        const std::string verdict = VerdictText(job);
        const std::string serial = job.serialNumber ? Hex6(*job.serialNumber) : std::string();
        if (log_ != nullptr) {
            log_->Append("write", IcTypeName(settings.icType), serial,
                         verdict.empty() ? job.reason : verdict);
        }
        if (events_) {
            events_->End(job, path,
                         unrecorded.empty() ? JobEvents::Fields{}
                                            : JobEvents::Fields{{"record", "missing"}});
            return;
        }
        out_ << path << "  " << (stamps ? Hex6(settings.factoryNumber) : std::string("-")) << "  "
             << (verdict.empty() ? job.reason : verdict) << "  " << job.durationMs << " ms"
             << (unrecorded.empty() ? "" : "  (no record)") << '\n'
             << std::flush;
    };
    // A mouse the line started on and left without an outcome still gets its end.
    bool started = false;
    const auto endWithout = [&](const std::string& reason) {
        if (events_ && started) {
            events_->EndWithout(Job::Write, path, reason);
        }
    };
    OperationRunner runner(station);
    runner.Attach(
        records_, &devices, [&tally] { return tally.imageFile; }, tally.approvals);
    runner.SetSoughtIds(options_.vendorId, options_.productId);
    try {
        {
            // A mouse that arrived after the line stopped is not written.
            std::lock_guard lock(tally.mutex);
            if (!tally.error.empty()) {
                unplug();
                return;
            }
        }
        if (events_) {
            events_->Start(Job::Write, path);
            started = true;
        }
        if (stamps) {
            if (options_.serialFromRecords) {
                settings.factoryNumber = runner.ReserveSerialNumber(
                    productType, options_.serialStart.value_or(options_.settings.factoryNumber));
            } else {
                std::lock_guard lock(tally.mutex);
                CheckSerialNumberFits(tally.nextSerial);
                settings.factoryNumber = tally.nextSerial;
                tally.nextSerial = AdvancedSerialNumber(tally.nextSerial);
            }
        }
        report(runner.Write(), "");
    } catch (const UnrecordedMouse& error) {
        stop(error.Cause());
        report(*runner.LastOutcome(), error.Mouse());
    } catch (const RecordsError& error) {
        if (runner.LastOutcome()) {
            // Recorded; its serial number stays reserved until settled.
            stop(error.what());
            report(*runner.LastOutcome(), "");
        } else if (dynamic_cast<const RecordsUnreachable*>(&error) != nullptr) {
            // This mouse is not written; the line goes on, and the next mouse asks the line
            // database again.
            std::lock_guard lock(tally.mutex);
            if (stamps && !options_.serialFromRecords &&
                tally.nextSerial == AdvancedSerialNumber(settings.factoryNumber)) {
                tally.nextSerial = settings.factoryNumber; // it was never stamped
            }
            if (events_) {
                endWithout(error.what());
            } else {
                out_ << path << "  -  " << error.what() << '\n' << std::flush;
            }
        } else {
            stop(error.what());
            endWithout(error.what());
        }
    } catch (const StationError& error) {
        stop(error.what());
        endWithout(error.what());
    }
    unplug();
}

} // namespace vrax
