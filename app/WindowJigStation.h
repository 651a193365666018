#pragma once

#include "remote/JigStation.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <optional>

namespace vrax {

class TForm1;

// The station window as a jig drives it: a job the jig starts is a click on the job's button,
// run by the window's own handler on its thread, so it has the busy window, the verdict, the
// record, the serial number's advance and the tally a clicked one has. The job starts from the
// event loop right after the command; the window's pumping keeps the jig answered meanwhile.
//
// `cancelled` cuts the window's platform and clock (CancellableHidPlatform, CancellableClock);
// it is set by #CANCEL and cleared when the job ends.
class WindowJigStation final : public JigStation {
public:
    WindowJigStation(TForm1& form, std::atomic<bool>& cancelled);

    // Called at every chunk of a job the jig started, after its progress is taken.
    void SetChunkListener(std::function<void()> listener) { chunkListener_ = std::move(listener); }

    static constexpr int WaitPollMilliseconds = 50;

    int Channels() const override { return 1; }
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
    bool MouseOpen();
    // Until a mouse is open, the wait has run out or the jig cancels.
    void Wait();
    void Run(JigJob job);
    void Finish(JigChannelResult result);
    JigChannelResult ResultOf(JigJob job, const std::exception_ptr& error) const;

    TForm1& form_;
    std::atomic<bool>& cancelled_;
    bool running_ = false;
    bool finished_ = false;
    JigProgress progress_;
    JigJob job_ = JigJob::Write;
    bool waiting_ = false;
    bool waitCancelled_ = false;
    std::optional<int> serialNumber_;
    std::chrono::microseconds waitUntil_{};
    QTimer waitTimer_;
    std::vector<JigChannelResult> results_;
    std::function<void()> chunkListener_;
};

} // namespace vrax
