#include "remote/transport/JigPorts.h"

#include "remote/transport/SerialJigPort.h"
#include "remote/transport/TcpJigAccess.h"
#include "remote/transport/TcpJigPort.h"

#include <asio.hpp>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace vrax {

namespace {

constexpr unsigned DefaultBaud = 115200;

std::optional<unsigned> Decimal(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

struct JigPorts::Parts {
    asio::io_context io;
    TcpJigAccess access;
    std::vector<std::unique_ptr<Port>> ports;
    std::mutex wakeMutex;
    std::condition_variable woken;
    bool wake = false;
};

JigPorts::JigPorts() : parts_(std::make_unique<Parts>()) {}

JigPorts::~JigPorts() {
    // Handlers still queued refer to the ports: they go before the ports do.
    parts_->io.stop();
    parts_->ports.clear();
}

std::string JigPorts::Allow(const std::string& cidr) {
    return parts_->access.Allow(cidr);
}

void JigPorts::SetIdleLimit(std::chrono::milliseconds limit) {
    parts_->access.idleLimit = limit;
}

int JigPorts::Open(const std::string& address, JigPortEvents events) {
    const std::string_view text(address);
    if (text.rfind("tcp:", 0) == 0) {
        const std::string_view rest = text.substr(4);
        const std::size_t colon = rest.rfind(':');
        const std::optional<unsigned> port =
            colon == std::string_view::npos ? std::nullopt : Decimal(rest.substr(colon + 1));
        if (!port || *port > 65535) {
            throw JigPortError("--remote " + address + ": expected tcp:ADDRESS:PORT");
        }
        std::string address(rest.substr(0, colon));
        if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
            address = address.substr(1, address.size() - 2);
        }
        parts_->ports.push_back(std::make_unique<TcpJigPort>(parts_->io, address,
                                                             static_cast<unsigned short>(*port),
                                                             parts_->access, std::move(events)));
    } else if (text.rfind("serial:", 0) == 0) {
        const std::string_view rest = text.substr(7);
        const std::size_t comma = rest.rfind(',');
        const std::string_view device = rest.substr(0, comma);
        const std::optional<unsigned> baud = comma == std::string_view::npos
                                                 ? std::optional<unsigned>(DefaultBaud)
                                                 : Decimal(rest.substr(comma + 1));
        if (device.empty() || !baud || *baud == 0) {
            throw JigPortError("--remote " + address + ": expected serial:DEVICE,BAUD");
        }
        parts_->ports.push_back(std::make_unique<SerialJigPort>(parts_->io, std::string(device),
                                                                *baud, std::move(events)));
    } else {
        throw JigPortError("--remote " + address +
                           ": expected tcp:ADDRESS:PORT or serial:DEVICE,BAUD");
    }
    return static_cast<int>(parts_->ports.size()) - 1;
}

std::string JigPorts::Name(int port) const {
    return parts_->ports.at(static_cast<std::size_t>(port))->Name();
}

void JigPorts::Send(int port, const std::string& bytes) {
    parts_->ports.at(static_cast<std::size_t>(port))->Send(bytes);
}

void JigPorts::Poll(std::chrono::milliseconds wait) {
    if (parts_->io.stopped()) {
        parts_->io.restart();
    }
    // A wake from here on stops the run below; one before it is seen here.
    bool woken = false;
    {
        std::lock_guard lock(parts_->wakeMutex);
        woken = std::exchange(parts_->wake, false);
    }
    if (woken) {
        parts_->io.poll();
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    parts_->io.run_for(wait);
    // Ports with nothing pending return at once; the caller's loop must not spin on them.
    std::unique_lock lock(parts_->wakeMutex);
    parts_->woken.wait_until(lock, start + wait, [this] { return parts_->wake; });
    parts_->wake = false;
}

void JigPorts::Wake() {
    {
        std::lock_guard lock(parts_->wakeMutex);
        parts_->wake = true;
    }
    parts_->woken.notify_all();
    parts_->io.stop();
}

void JigPorts::PollReady() {
    if (parts_->io.stopped()) {
        parts_->io.restart();
    }
    parts_->io.poll();
}

} // namespace vrax
