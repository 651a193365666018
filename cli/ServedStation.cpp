#include "cli/ServedStation.h"

#include "cli/CommandLineView.h"
#include "cli/OneMousePlatform.h"
#include "device/NullHidPlatform.h"
#include "device/RememberingHidPlatform.h"
#include "device/SystemHidPlatform.h"
#include "operations/CancellableClock.h"
#include "operations/CancellableHidPlatform.h"
#include "operations/JigResult.h"
#include "operations/OperationRunner.h"
#include "programming/BinImage.h"
#include "programming/FactoryRecord.h"
#include "programming/StationContext.h"
#include "records/SerialNumberHold.h"
#include "records/Sha256.h"
#include "records/Utf8Text.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>

namespace vrax {

namespace {

constexpr auto MousePollInterval = std::chrono::milliseconds(100);

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += (text.empty() ? "" : "; ") + line;
    }
    return text;
}

} // namespace

struct ServedStation::Loaded {
    StationState state; // LoadedImage, LoadedTypeName and ImageLoaded
    std::string path;   // as given, to load it again for another IC type
    std::string file;   // as the records keep it
    std::string name;
    std::string sha256;
};

ServedStation::ServedStation(const CommandLineOptions& options, ProductionRecords& records,
                             std::ostream& log)
    : options_(options), records_(records), log_(log), approvals_(records),
      nextSerial_(options.settings.factoryNumber) {
    if (options_.simulation) {
        bus_ = std::make_unique<SimulatedHidBus>(busClock_);
        devices_ = bus_.get();
        for (int channel = 1; channel <= options_.gang; ++channel) {
            std::shared_ptr<VirtualMouse> mouse;
            if (options_.simulation->family == MouseFamily::Kvqm31x) {
                mouse = std::make_shared<VirtualMouse31x>();
            } else {
                mouse = std::make_shared<VirtualMouse42xx>();
            }
            if (channel % options_.simulatedFaultyEvery == 0) {
                mouse->SetFaults(options_.simulation->faults);
            }
            const SimulatedHidBus::DeviceId id = bus_->Plug(mouse);
            simulatedKeys_.push_back(bus_->DeviceOfInterface(bus_->InterfacePath(id, 0)));
        }
    } else {
        hardware_ = MakeSystemHidPlatform();
        devices_ = hardware_.get();
    }
}

ServedStation::~ServedStation() {
    // A job in flight ends as it would have: no mouse is left half written by a shutdown.
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::string ServedStation::LoadFile(const std::string& path) {
    const auto refused = LoadPath(path);
    return refused ? refused->second : std::string{};
}

std::optional<std::pair<RemoteError, std::string>>
ServedStation::LoadPath(const std::string& path) {
    PlainSettings settings;
    {
        std::lock_guard lock(mutex_);
        settings = options_.settings;
    }
    auto loaded = std::make_shared<Loaded>();
    try {
        NullHidPlatform nothing;
        VirtualClock clock;
        ProgressBar quiet(log_, false);
        CommandLineView view(quiet);
        Station loader(nothing, clock, settings, view);
        StationContext context = loader.Context();
        BeginLoad(context);
        if (LoadBinFile(context, path) != LoadOutcome::Loaded) {
            return std::pair(RemoteError::ImageUnreadable, Joined(view.VisibleTexts(loader.lang)));
        }
        loaded->state = loader.state;
    } catch (const StationError& error) {
        return std::pair(RemoteError::ImageUnreadable, std::string(error.what()));
    }
    loaded->path = path;
    loaded->file = options_.recordsChoice == "none" ? ExpandFileName(path)
                                                    : Utf8FileName(ExpandFileName(path));
    loaded->name = std::filesystem::path(path).filename().string();
    loaded->sha256 = Sha256Hex(loaded->state.LoadedImage.data(), loaded->state.LoadedImage.size());
    try {
        approvals_.Require(loaded->state.LoadedImage, settings, loaded->file);
    } catch (const RecordsUnreachable& error) {
        return std::pair(RemoteError::RecordsUnreachable, std::string(error.what()));
    } catch (const RecordsError& error) {
        return std::pair(RemoteError::NotApproved, std::string(error.what()));
    } catch (const StationError& error) {
        return std::pair(RemoteError::Unknown, std::string(error.what()));
    }
    std::lock_guard lock(mutex_);
    image_ = std::move(loaded);
    return std::nullopt;
}

int ServedStation::Channels() const {
    return options_.gang;
}

std::vector<std::string> ServedStation::ChannelPaths(int channel) {
    const std::vector<std::string> present = devices_->EnumerateInterfaces();
    std::string key;
    if (bus_) {
        key = simulatedKeys_.at(static_cast<std::size_t>(channel - 1));
    } else {
        // The mice that may be the IC type's, in the order of their ports.
        std::vector<std::string> mice;
        for (const std::string& path : present) {
            if (devices_->MayBeDevice(path, options_.vendorId, options_.productId)) {
                mice.push_back(devices_->DeviceOfInterface(path));
            }
        }
        std::sort(mice.begin(), mice.end());
        mice.erase(std::unique(mice.begin(), mice.end()), mice.end());
        if (static_cast<std::size_t>(channel) > mice.size()) {
            return {};
        }
        key = mice[static_cast<std::size_t>(channel - 1)];
    }
    std::vector<std::string> paths;
    for (const std::string& path : present) {
        if (devices_->DeviceOfInterface(path) == key) {
            paths.push_back(path);
        }
    }
    return paths;
}

std::optional<RemoteError> ServedStation::StartJob(const JigJobRequest& request) {
    std::lock_guard lock(mutex_);
    if (running_) {
        return RemoteError::Busy;
    }
    if (!image_ && request.job != JigJob::FactoryRead) {
        return RemoteError::NoImage;
    }
    if (request.serialNumber && request.job == JigJob::Write &&
        (!options_.settings.writeProductId ||
         !FindMouseType(options_.settings.icType)->jobs.checkedWrite)) {
        return RemoteError::NoFactoryRecord;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = true;
    finished_ = false;
    cancelled_ = false;
    progress_.assign(request.channels.size(), ChannelProgress{});
    results_.clear();
    worker_ = std::thread([this, request, image = image_] { RunJob(request, image); });
    return std::nullopt;
}

JigProgress ServedStation::Progress() {
    std::lock_guard lock(mutex_);
    JigProgress progress;
    for (const ChannelProgress& channel : progress_) {
        progress.done += channel.done;
        progress.total += channel.total;
    }
    progress.finished = finished_;
    return progress;
}

std::vector<JigChannelResult> ServedStation::TakeResults() {
    std::lock_guard lock(mutex_);
    return std::move(results_);
}

void ServedStation::Cancel() {
    cancelled_ = true;
}

void ServedStation::RunJob(JigJobRequest request, std::shared_ptr<const Loaded> image) {
    std::vector<JigChannelResult> results(request.channels.size());
    std::optional<std::pair<RemoteError, std::string>> refused;
    if (request.job == JigJob::Write) {
        // Refused before any mouse, for every channel at once.
        PlainSettings settings;
        {
            std::lock_guard lock(mutex_);
            settings = options_.settings;
        }
        try {
            approvals_.Require(image->state.LoadedImage, settings, image->file);
        } catch (const RecordsUnreachable& error) {
            refused = std::pair(RemoteError::RecordsUnreachable, std::string(error.what()));
        } catch (const RecordsError& error) {
            refused = std::pair(RemoteError::NotApproved, std::string(error.what()));
        } catch (const StationError& error) {
            refused = std::pair(RemoteError::Unknown, std::string(error.what()));
        }
    }
    std::vector<std::thread> gang;
    for (std::size_t slot = 0; slot < request.channels.size(); ++slot) {
        results[slot].channel = request.channels[slot];
        results[slot].job = request.job;
        if (refused) {
            results[slot].error = refused->first;
            results[slot].reason = refused->second;
            continue;
        }
        gang.emplace_back([this, slot, &request, &image, &results] {
            results[slot] = RunChannel(request.channels[slot], slot, request, *image);
        });
    }
    for (std::thread& thread : gang) {
        thread.join();
    }
    {
        std::lock_guard lock(mutex_);
        results_ = std::move(results);
        finished_ = true;
        running_ = false;
    }
    if (jobEnded_) {
        jobEnded_();
    }
}

std::unique_ptr<Clock> ServedStation::MakeClock() const {
    if (options_.simulation && !options_.simulation->realTime) {
        return std::make_unique<VirtualClock>();
    }
    return std::make_unique<RealClock>();
}

JigChannelResult ServedStation::RunChannel(int channel, std::size_t slot,
                                           const JigJobRequest& request, const Loaded& image) {
    JigChannelResult result;
    result.channel = channel;
    result.job = request.job;
    PlainSettings settings;
    int vendorId = 0;
    int productId = 0;
    {
        std::lock_guard lock(mutex_);
        settings = options_.settings;
        vendorId = options_.vendorId;
        productId = options_.productId;
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(request.waitSeconds);
    std::vector<std::string> paths = ChannelPaths(channel);
    const bool waited = paths.empty();
    while (paths.empty() && !cancelled_ && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(MousePollInterval);
        paths = ChannelPaths(channel);
    }
    if (paths.empty()) {
        result.error = cancelled_                ? RemoteError::Cancelled
                       : request.waitSeconds > 0 ? RemoteError::Timeout
                                                 : RemoteError::NoMouse;
        return result;
    }

    const std::unique_ptr<Clock> ownClock = MakeClock();
    CancellableClock cancellableClock(*ownClock, cancelled_);
    Clock* const clock = &cancellableClock;
    OneMousePlatform mouse(*devices_, paths);
    CancellableHidPlatform cancellable(mouse, cancelled_);
    RememberingHidPlatform devices(cancellable);
    ProgressBar quiet(log_, false);
    CommandLineView view(quiet);
    view.SetChunkListener([this, slot](int done, int total) {
        std::lock_guard lock(mutex_);
        progress_[slot] = {done, total};
    });
    Station station(devices, *clock, settings, view);
    station.state = image.state;
    if (request.job == JigJob::FactoryRead && !station.state.ImageLoaded) {
        // As the command line's factory-read: the identity check runs against the selected type.
        station.state.LoadedTypeName = IcTypeName(settings.icType);
    }
    const auto forget = [&station] { station.links.ForgetAll(); };
    if (waited && settings.sleepTime >= 0) {
        // The settle wait of a mouse just plugged, as the polling gives it.
        clock->SleepMilliseconds(static_cast<std::uint32_t>(settings.sleepTime) + 1);
    }
    if (!station.OpenMouse(settings.icType, vendorId, productId)) {
        result.error = RemoteError::NoMouse;
        forget();
        return result;
    }

    OperationRunner runner(station);
    runner.Attach(
        records_, &devices, [&image] { return image.file; }, &approvals_);
    runner.SetSoughtIds(vendorId, productId);
    const bool stamps = request.job == JigJob::Write && settings.writeProductId &&
                        FindMouseType(settings.icType)->jobs.checkedWrite;
    bool advanced = false;
    const auto giveBack = [&] {
        // As the window: a failed mouse's number goes to the next one.
        std::lock_guard lock(mutex_);
        if (advanced && nextSerial_ == AdvancedSerialNumber(settings.factoryNumber)) {
            nextSerial_ = settings.factoryNumber;
        }
    };
    try {
        if (stamps) {
            if (request.serialNumber) {
                settings.factoryNumber = *request.serialNumber;
            } else if (options_.serialFromRecords) {
                settings.factoryNumber = runner.ReserveSerialNumber(
                    settings.factoryType & 0xFFFF,
                    options_.serialStart.value_or(options_.settings.factoryNumber));
            } else {
                std::lock_guard lock(mutex_);
                CheckSerialNumberFits(nextSerial_);
                settings.factoryNumber = nextSerial_;
                nextSerial_ = AdvancedSerialNumber(nextSerial_);
                advanced = true;
            }
        }
        JobOutcome job;
        switch (request.job) {
        case JigJob::Write:
            job = runner.Write();
            break;
        case JigJob::Verify:
            job = runner.Verify();
            break;
        case JigJob::FactoryRead:
            job = runner.ReadFactory();
            break;
        }
        TakeOutcome(result, job);
        if (!job.Passed()) {
            giveBack();
            SetFailure(result, &job, cancelled_);
        } else if (request.job == JigJob::FactoryRead && view.ShownFactoryFields()) {
            result.fields = FactoryFieldsOf(*view.ShownFactoryFields());
            result.serialNumber = view.ShownFactoryFields()->serialNumber;
            result.productType = view.ShownFactoryFields()->productType;
        }
    } catch (const UnrecordedMouse& error) {
        if (runner.LastOutcome()) {
            TakeOutcome(result, *runner.LastOutcome());
        }
        result.error = RemoteError::RecordsUnreachable;
        result.reason = error.what();
    } catch (const RecordsError& error) {
        giveBack();
        if (runner.LastOutcome()) {
            TakeOutcome(result, *runner.LastOutcome());
        }
        // Before the mouse, the records refuse only the serial number: the image was admitted.
        const bool unreachable = dynamic_cast<const RecordsUnreachable*>(&error) != nullptr;
        result.error = unreachable || runner.LastOutcome() ? RemoteError::RecordsUnreachable
                                                           : RemoteError::SerialStamped;
        result.reason = error.what();
    } catch (const StationError& error) {
        giveBack();
        result.error = RemoteError::Unknown;
        result.reason = error.what();
    }
    forget();
    return result;
}

std::string ServedStation::Status(const std::vector<int>& channels) {
    {
        std::lock_guard lock(mutex_);
        if (!image_) {
            return "NO IMAGE";
        }
    }
    std::string each;
    bool ready = true;
    for (const int channel : channels) {
        const bool present = !ChannelPaths(channel).empty();
        ready = ready && present;
        each += " " + std::to_string(channel) + ":" + (present ? "READY" : "NO MOUSE");
    }
    if (channels.size() == 1) {
        return ready ? "READY" : "NO MOUSE";
    }
    return (ready ? "READY" : "NOT READY") + each;
}

JigImage ServedStation::Image() {
    std::lock_guard lock(mutex_);
    if (!image_) {
        return {};
    }
    return {image_->name, image_->sha256};
}

std::optional<std::pair<RemoteError, std::string>> ServedStation::Load(const std::string& name) {
    std::filesystem::path folder = options_.imageFolder;
    if (folder.empty()) {
        folder = options_.path.empty() ? std::filesystem::path(".")
                                       : std::filesystem::path(options_.path).parent_path();
    }
    if (folder.empty()) {
        folder = ".";
    }
    const std::filesystem::path path = folder / name;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::pair(RemoteError::ImageUnreadable, "NO FILE " + name + " IN THE IMAGE FOLDER");
    }
    return LoadPath(path.string());
}

bool ServedStation::SelectIcType(const std::string& name) {
    const MouseType* type = FindMouseTypeByName(name);
    if (type == nullptr) {
        return false;
    }
    std::string reload;
    {
        std::lock_guard lock(mutex_);
        options_.settings.icType = type->icType;
        options_.vendorId = type->vendorId;
        options_.productId = type->productId;
        if (!type->jobs.customRanges && options_.settings.format == DataFormat::Custom) {
            options_.settings.format = DataFormat::Byte2K;
        }
        // The image was loaded for the former type: it is loaded again for this one.
        if (image_) {
            reload = image_->path;
            image_.reset();
        }
    }
    if (!reload.empty() && LoadPath(reload)) {
        log_ << "Image " << reload << " does not load for " << type->name << '\n' << std::flush;
    }
    return true;
}

std::string ServedStation::IcType() {
    std::lock_guard lock(mutex_);
    return IcTypeName(options_.settings.icType);
}

std::string ServedStation::Version() {
    return std::string("VRAX-BIN-WRITER-CLI ") + VRAX_VERSION + " PROTOCOL 1";
}

} // namespace vrax
