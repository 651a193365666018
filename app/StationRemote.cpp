#include "app/StationRemote.h"

#include "app/TForm1.h"
#include "device/Clock.h"

#include <charconv>
#include <cstdio>

namespace vrax {

struct StationRemote::Session {
    std::unique_ptr<RemoteEngine> engine;
    int port = -1;
    std::string peer; // empty: no jig connected
};

StationRemote::StationRemote(TForm1& form, std::atomic<bool>& cancelled)
    : QObject(&form), form_(form), station_(form, cancelled) {
    timer_.setInterval(PollMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    station_.SetChunkListener([this] { Poll(); });
}

StationRemote::~StationRemote() = default;

void StationRemote::SetIdleSeconds(const std::string& seconds) {
    int value = 0;
    const auto [end, error] =
        std::from_chars(seconds.data(), seconds.data() + seconds.size(), value);
    if (seconds.empty() || error != std::errc{} || end != seconds.data() + seconds.size() ||
        value < 1) {
        throw JigPortError("--remote-idle " + seconds +
                           ": expected a number of seconds, 1 or more");
    }
    ports_.SetIdleLimit(std::chrono::seconds(value));
}

void StationRemote::Open(const std::string& port) {
    auto session = std::make_unique<Session>();
    Session* const own = session.get();
    own->engine = std::make_unique<RemoteEngine>(station_, [this, own](const std::string& line) {
        if (own->port >= 0) {
            ports_.Send(own->port, line);
        }
    });
    JigPortEvents events;
    events.connected = [this, own](const std::string& peer) {
        own->engine->Connected();
        own->peer = peer;
        Log("Jig connected: " + peer);
        ShowConnections();
    };
    events.received = [this, own](std::string_view bytes) { own->engine->Receive(bytes, Now()); };
    events.disconnected = [this, own] {
        own->engine->Disconnected();
        own->peer.clear();
        Log("Jig left " + ports_.Name(own->port));
        ShowConnections();
    };
    events.log = &StationRemote::Log;
    own->port = ports_.Open(port, std::move(events));
    Log("Listening on " + ports_.Name(own->port));
    sessions_.push_back(std::move(session));
    ShowConnections();
    timer_.start();
}

std::vector<std::string> StationRemote::Names() const {
    std::vector<std::string> names;
    for (const auto& session : sessions_) {
        names.push_back(ports_.Name(session->port));
    }
    return names;
}

void StationRemote::Poll() {
    // The window's pumping runs this timer from inside any handler, this one's too.
    if (polling_) {
        return;
    }
    polling_ = true;
    ports_.PollReady();
    const std::chrono::milliseconds now = Now();
    for (const auto& session : sessions_) {
        session->engine->Tick(now);
    }
    polling_ = false;
}

std::chrono::milliseconds StationRemote::Now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(form_.GetClock().Now());
}

void StationRemote::ShowConnections() {
    QString text;
    for (const auto& session : sessions_) {
        const QString port = QString::fromStdString(ports_.Name(session->port));
        text += (text.isEmpty() ? "" : "   ") +
                (session->peer.empty()
                     ? "Jig port " + port + ": waiting"
                     : "Jig " + QString::fromStdString(session->peer) + " on " + port);
    }
    form_.ShowJigConnection(text);
}

void StationRemote::Log(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace vrax
