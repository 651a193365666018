#pragma once

#include "remote/transport/JigPort.h"

#include <array>
#include <asio.hpp>
#include <deque>
#include <memory>
#include <string>

namespace vrax {

// Listens on one address and port and talks to one client at a time.
class TcpJigPort final : public JigPorts::Port {
public:
    // Throws JigPortError when the address does not convert or cannot be bound.
    TcpJigPort(asio::io_context& io, const std::string& address, unsigned short port,
               JigPortEvents events);

    std::string Name() const override;
    void Send(const std::string& bytes) override;

private:
    void Accept();
    void Read();
    void WriteNext();
    void Drop();

    asio::ip::tcp::acceptor acceptor_;
    std::shared_ptr<asio::ip::tcp::socket> client_;
    JigPortEvents events_;
    std::array<char, 1024> buffer_{};
    std::deque<std::string> outgoing_;
};

} // namespace vrax
