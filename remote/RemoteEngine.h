#pragma once

#include "remote/JigStation.h"
#include "remote/LineReader.h"
#include "remote/RemoteRequest.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrax {

// One jig's conversation with the station: every command gets exactly one final reply, "#OK"
// or "#ERRnnn:text"; a job answers "#ACK" at once and "#BUSY done/total" until its final reply,
// so a jig can time out on silence. Time comes in from the caller, so tests run it on a
// virtual clock. Not thread-safe: its host calls it from one thread.
class RemoteEngine {
public:
    using Milliseconds = std::chrono::milliseconds;
    // Well inside the half second a jig may wait between two lines while a job runs.
    static constexpr Milliseconds BusyInterval{250};

    // `send` takes one reply line with its CRLF.
    RemoteEngine(JigStation& station, std::function<void(const std::string&)> send);

    void Receive(std::string_view bytes, Milliseconds now);
    // Called often (every few tens of milliseconds): sends the heartbeat and a job's end.
    void Tick(Milliseconds now);
    // A jig connected, or left: a job it started goes on and its result waits for #RESULT.
    void Connected();
    void Disconnected();
    bool JobRunning() const { return running_; }

private:
    void Handle(const RemoteRequest& request, Milliseconds now);
    void Start(const RemoteRequest& request, Milliseconds now);
    void Finish();
    void Send(const std::string& line);
    void SendOk(const std::string& details = {});
    // A job runs: how far it is, for #STATUS and #RESULT alike.
    void SendBusy();
    void SendError(RemoteError error, const std::string& text = {});
    std::string ResultText(const JigChannelResult& result) const;
    void SendResults(const std::vector<JigChannelResult>& results, bool jobEnd);

    JigStation& station_;
    std::function<void(const std::string&)> send_;
    LineReader reader_;
    std::vector<int> selected_;
    bool running_ = false;
    bool owed_ = false; // the jig that started the running job still waits for its reply
    Milliseconds lastSent_{};
    std::vector<JigChannelResult> lastResults_;
};

} // namespace vrax
