#pragma once

#include "remote/transport/JigPort.h"

#include <array>
#include <asio.hpp>
#include <deque>
#include <string>

namespace vrax {

// A jig on a serial line, 8N1 at the given rate. A line that goes away (a USB adapter
// unplugged) is logged and opened again every second until it is back.
class SerialJigPort final : public JigPorts::Port {
public:
    // Throws JigPortError when the line cannot be opened the first time.
    SerialJigPort(asio::io_context& io, const std::string& device, unsigned baud,
                  JigPortEvents events);

    std::string Name() const override;
    void Send(const std::string& bytes) override;

private:
    asio::error_code OpenLine();
    void RetryLater();
    void Read();
    void WriteNext();
    void Lost(const asio::error_code& error);

    asio::serial_port line_;
    asio::steady_timer retry_;
    std::string device_;
    unsigned baud_;
    JigPortEvents events_;
    std::array<char, 1024> buffer_{};
    std::deque<std::string> outgoing_;
};

} // namespace vrax
