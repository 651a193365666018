#pragma once

#include "cli/CommandLineOptions.h"
#include "device/Clock.h"
#include "device/HidPlatform.h"
#include "programming/StationState.h"
#include "records/ImageApprovalCheck.h"
#include "records/ProductionRecords.h"
#include "remote/JigStation.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace vrax {

class SimulatedHidBus;

// The command line's station as a jig drives it: the options' settings and records, the jobs
// run through the operation runner on a thread of their own, one station per channel. The
// channels are the mice present in the order of their USB ports (with --sim, the gang's
// virtual mice, plugged for good).
class ServedStation final : public JigStation {
public:
    ServedStation(const CommandLineOptions& options, ProductionRecords& records, std::ostream& log);
    ~ServedStation() override;
    ServedStation(const ServedStation&) = delete;
    ServedStation& operator=(const ServedStation&) = delete;

    // The image given on the command line, from any folder. The refusal's text when it fails.
    std::string LoadFile(const std::string& path);
    // Called on the job's thread as each job ends, so the host need not poll for it. Before
    // the first job.
    void SetJobEndListener(std::function<void()> listener) { jobEnded_ = std::move(listener); }

    int Channels() const override;
    std::optional<RemoteError> StartJob(const JigJobRequest& request) override;
    JigProgress Progress() override;
    std::vector<JigChannelResult> TakeResults() override;
    void Cancel() override;
    std::string Status(const std::vector<int>& channels) override;
    JigImage Image() override;
    std::optional<std::pair<RemoteError, std::string>> Load(const std::string& name) override;
    bool SelectIcType(const std::string& name) override;
    std::string IcType() override;
    std::string Version() override;

private:
    struct Loaded;
    struct ChannelProgress {
        int done = 0;
        int total = 0;
    };

    std::optional<std::pair<RemoteError, std::string>> LoadPath(const std::string& path);
    // The interfaces of the channel's mouse; empty when none is there.
    std::vector<std::string> ChannelPaths(int channel);
    void RunJob(JigJobRequest request, std::shared_ptr<const Loaded> image);
    JigChannelResult RunChannel(int channel, std::size_t slot, const JigJobRequest& request,
                                const Loaded& image);
    std::unique_ptr<Clock> MakeClock() const;

    CommandLineOptions options_;
    ProductionRecords& records_;
    std::ostream& log_;
    ImageApprovalCheck approvals_;
    RealClock busClock_;
    std::unique_ptr<SimulatedHidBus> bus_;
    std::unique_ptr<HidPlatform> hardware_;
    HidPlatform* devices_ = nullptr;
    std::vector<std::string> simulatedKeys_; // the virtual mice's devices, by channel

    std::mutex mutex_;
    std::shared_ptr<const Loaded> image_;
    int nextSerial_ = 0;
    std::thread worker_;
    std::atomic<bool> cancelled_{false};
    bool running_ = false;
    bool finished_ = false;
    std::vector<ChannelProgress> progress_;
    std::vector<JigChannelResult> results_;
    std::function<void()> jobEnded_;
};

} // namespace vrax
