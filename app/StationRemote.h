#pragma once

#include "app/WindowJigStation.h"
#include "remote/RemoteEngine.h"
#include "remote/transport/JigPorts.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vrax {

class TForm1;

// The window's --remote ports: jigs drive the window's jobs with the jig protocol. The ports
// are polled from the window's event loop, so a job's message pumping keeps answering
// #STATUS, #RESULT and #CANCEL and sends the heartbeat; a poll never starts a job itself.
// A job's chunks poll too, so the heartbeat keeps the window's clock (a test's virtual one).
class StationRemote final : public QObject {
public:
    // Far inside the heartbeat's interval.
    static constexpr int PollMilliseconds = 20;

    StationRemote(TForm1& form, std::atomic<bool>& cancelled);
    ~StationRemote() override;

    // Before Open: an address range TCP jigs may come from besides this PC, and how long a
    // silent one is kept ("300"). Throw JigPortError; Allow returns a warning for a range that
    // admits every address.
    std::string Allow(const std::string& cidr) { return ports_.Allow(cidr); }
    void SetIdleSeconds(const std::string& seconds);
    // Opens "tcp:ADDRESS:PORT" or "serial:DEVICE,BAUD" and starts polling. Throws JigPortError.
    void Open(const std::string& port);
    // Where each port listens, the TCP ones with their bound port.
    std::vector<std::string> Names() const;

private:
    struct Session;

    void Poll();
    std::chrono::milliseconds Now() const;
    void ShowConnections();
    static void Log(const std::string& line);

    TForm1& form_;
    WindowJigStation station_;
    JigPorts ports_;
    std::vector<std::unique_ptr<Session>> sessions_;
    QTimer timer_;
    bool polling_ = false;
};

} // namespace vrax
