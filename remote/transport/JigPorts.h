#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vrax {

// A port that cannot be opened as asked; the text says which and why.
class JigPortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a port tells its engine. All of it comes from inside Poll, on the caller's thread.
struct JigPortEvents {
    std::function<void(const std::string& peer)> connected;
    std::function<void(std::string_view bytes)> received;
    std::function<void()> disconnected;
    // A line for the station's log: a refused client, a serial port that went away...
    std::function<void(const std::string& line)> log;
};

// The ways a jig reaches the station: TCP ("tcp:ADDRESS:PORT", one client at a time; a
// second is told busy and closed) and serial lines ("serial:DEVICE,BAUD", 8N1; COM3 on
// Windows). They run on the caller's thread, a slice at a time.
class JigPorts {
public:
    JigPorts();
    ~JigPorts();
    JigPorts(const JigPorts&) = delete;
    JigPorts& operator=(const JigPorts&) = delete;

    // An address range TCP jigs may come from besides the loopback ("10.1.2.0/24"); a TCP
    // port on any other address than a loopback one needs one. Before Open. Throws
    // JigPortError for a malformed range.
    // Returns a warning for a range that admits every address.
    std::string Allow(const std::string& cidr);
    // How long a TCP jig may stay silent both ways before it is closed (default 5 minutes).
    void SetIdleLimit(std::chrono::milliseconds limit);

    // Opens the port and returns its number for Send. Throws JigPortError.
    int Open(const std::string& address, JigPortEvents events);
    // Where the port listens or which line it is ("tcp:127.0.0.1:4000" with the port bound).
    std::string Name(int port) const;
    // To the connected jig; nothing when none is.
    void Send(int port, const std::string& bytes);
    // Does the ports' pending work, waiting up to `wait` for some, or until Wake.
    void Poll(std::chrono::milliseconds wait);
    // Ends the Poll under way, or else the next one, at once. Safe from any thread: a job's
    // end need not wait out the slice.
    void Wake();
    // Does only the work already pending and returns at once: for a host with a loop of its own.
    void PollReady();

    class Port;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace vrax
