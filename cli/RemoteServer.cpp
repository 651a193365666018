#include "cli/RemoteServer.h"

#include "cli/ServedStation.h"
#include "remote/RemoteEngine.h"
#include "remote/transport/JigPorts.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <vector>

namespace vrax {

namespace {

std::atomic<bool> serveStopRequested{false};

// The engines' tick: far inside the heartbeat's interval. A job's end wakes it at once.
constexpr auto PollSlice = std::chrono::milliseconds(20);

extern "C" void StopServing(int) {
    RemoteServer::RequestStop();
}

} // namespace

RemoteServer::RemoteServer(const CommandLineOptions& options, ProductionRecords& records,
                           std::ostream& out, std::ostream& err)
    : options_(options), records_(records), out_(out), err_(err) {}

void RemoteServer::RequestStop() {
    serveStopRequested = true;
}

void RemoteServer::Say(const std::string& line) {
    std::lock_guard lock(outMutex_);
    out_ << line << '\n' << std::flush;
}

int RemoteServer::Run() {
    serveStopRequested = false;
    // Made before the station and gone after it: a job that ends while it shuts down wakes them.
    JigPorts ports;
    ServedStation station(options_, records_, err_);
    station.SetJobEndListener([&ports] { ports.Wake(); });
    if (!options_.path.empty()) {
        const std::string refused = station.LoadFile(options_.path);
        if (!refused.empty()) {
            err_ << refused << '\n';
            return 2;
        }
    }

    struct Session {
        std::unique_ptr<RemoteEngine> engine;
        int port = -1;
    };
    const auto origin = std::chrono::steady_clock::now();
    const auto now = [origin] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - origin);
    };
    try {
        for (const std::string& range : options_.remoteAllowed) {
            if (const std::string warning = ports.Allow(range); !warning.empty()) {
                err_ << warning << '\n';
            }
        }
    } catch (const JigPortError& error) {
        err_ << error.what() << '\n';
        return 2;
    }
    if (options_.remoteIdleSeconds) {
        ports.SetIdleLimit(std::chrono::seconds(*options_.remoteIdleSeconds));
    }
    std::vector<std::unique_ptr<Session>> sessions;
    for (const std::string& port : options_.remotes) {
        auto session = std::make_unique<Session>();
        Session* const own = session.get();
        own->engine =
            std::make_unique<RemoteEngine>(station, [&ports, own](const std::string& line) {
                if (own->port >= 0) {
                    ports.Send(own->port, line);
                }
            });
        JigPortEvents events;
        events.connected = [this, own](const std::string& peer) {
            own->engine->Connected();
            Say("Jig connected: " + peer);
        };
        events.received = [own, &now](std::string_view bytes) {
            own->engine->Receive(bytes, now());
        };
        events.disconnected = [this, own, &ports] {
            own->engine->Disconnected();
            Say("Jig left " + ports.Name(own->port));
        };
        events.log = [this](const std::string& line) { Say(line); };
        try {
            own->port = ports.Open(port, std::move(events));
        } catch (const JigPortError& error) {
            err_ << error.what() << '\n';
            return 2;
        }
        Say("Listening on " + ports.Name(own->port));
        sessions.push_back(std::move(session));
    }

    std::signal(SIGINT, StopServing);
    std::signal(SIGTERM, StopServing);
    while (!serveStopRequested) {
        ports.Poll(PollSlice);
        for (const auto& session : sessions) {
            session->engine->Tick(now());
        }
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    Say("Stopped");
    return 0;
}

} // namespace vrax
