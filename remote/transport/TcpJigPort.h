#pragma once

#include "remote/transport/JigPort.h"
#include "remote/transport/TcpJigAccess.h"

#include <array>
#include <asio.hpp>
#include <deque>
#include <memory>
#include <string>

namespace vrax {

// Listens on one address and port and talks to one client at a time, from the addresses the
// access admits, until it falls silent for the access's idle limit.
class TcpJigPort final : public JigPorts::Port {
public:
    // Throws JigPortError when the address does not convert or cannot be bound.
    TcpJigPort(asio::io_context& io, const std::string& address, unsigned short port,
               const TcpJigAccess& access, JigPortEvents events);

    std::string Name() const override;
    void Send(const std::string& bytes) override;

private:
    void Accept();
    void Read();
    void WriteNext();
    void Drop();
    void Refuse(asio::ip::tcp::socket socket, const std::string& reply);
    // Restarts the idle limit's count.
    void Heard();

    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer idle_;
    const TcpJigAccess& access_;
    std::string peer_;
    std::shared_ptr<asio::ip::tcp::socket> client_;
    JigPortEvents events_;
    std::array<char, 1024> buffer_{};
    std::deque<std::string> outgoing_;
};

} // namespace vrax
