#include "remote/transport/TcpJigPort.h"

#include "remote/RemoteError.h"

namespace vrax {

namespace {

std::string EndpointText(const asio::ip::tcp::endpoint& endpoint) {
    const asio::ip::address address = endpoint.address();
    const std::string host =
        address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return host + ":" + std::to_string(endpoint.port());
}

} // namespace

TcpJigPort::TcpJigPort(asio::io_context& io, const std::string& address, unsigned short port,
                       const TcpJigAccess& access, JigPortEvents events)
    : acceptor_(io), idle_(io), access_(access), events_(std::move(events)) {
    asio::error_code error;
    const asio::ip::address ip = asio::ip::make_address(address, error);
    if (error) {
        throw JigPortError("tcp:" + address + ":" + std::to_string(port) + ": not an IP address (" +
                           error.message() + ")");
    }
    const asio::ip::tcp::endpoint endpoint(ip, port);
    if (!access_.MayListenOn(ip)) {
        throw JigPortError("tcp:" + EndpointText(endpoint) +
                           " can be reached from other PCs: give --remote-allow CIDR for the "
                           "jigs' addresses, or listen on 127.0.0.1");
    }
    acceptor_.open(endpoint.protocol(), error);
    if (!error) {
        acceptor_.set_option(asio::socket_base::reuse_address(true), error);
    }
    if (!error) {
        acceptor_.bind(endpoint, error);
    }
    if (!error) {
        acceptor_.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        throw JigPortError("Cannot listen on tcp:" + EndpointText(endpoint) + ": " +
                           error.message());
    }
    Accept();
}

std::string TcpJigPort::Name() const {
    asio::error_code error;
    const asio::ip::tcp::endpoint endpoint = acceptor_.local_endpoint(error);
    return error ? std::string("tcp") : "tcp:" + EndpointText(endpoint);
}

void TcpJigPort::Accept() {
    acceptor_.async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
        if (error == asio::error::operation_aborted) {
            return;
        }
        if (!error) {
            asio::error_code ignored;
            const asio::ip::tcp::endpoint from = socket.remote_endpoint(ignored);
            const std::string peer = EndpointText(from);
            if (!access_.Admits(from.address())) {
                if (events_.log) {
                    events_.log("Closed a jig's connection from " + peer +
                                ": outside --remote-allow");
                }
                asio::error_code ignore;
                socket.close(ignore);
            } else if (client_) {
                // One jig drives the station; another is told so and let go.
                if (events_.log) {
                    events_.log("Refused a second jig from " + peer + ": one is connected");
                }
                Refuse(std::move(socket), "#" + RemoteErrorNumber(RemoteError::Busy) +
                                              ":BUSY ANOTHER JIG IS CONNECTED\r\n");
            } else {
                client_ = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
                client_->set_option(asio::ip::tcp::no_delay(true), ignored);
                peer_ = peer;
                Heard();
                if (events_.connected) {
                    events_.connected(peer);
                }
                Read();
            }
        }
        Accept();
    });
}

void TcpJigPort::Refuse(asio::ip::tcp::socket socket, const std::string& reply) {
    auto refused = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
    auto text = std::make_shared<std::string>(reply);
    asio::async_write(*refused, asio::buffer(*text),
                      [refused, text](const asio::error_code&, std::size_t) {
                          asio::error_code ignore;
                          refused->shutdown(asio::socket_base::shutdown_both, ignore);
                          refused->close(ignore);
                      });
}

void TcpJigPort::Heard() {
    idle_.expires_after(access_.idleLimit);
    idle_.async_wait([this, client = client_](const asio::error_code& error) {
        if (error || client != client_) {
            return;
        }
        if (events_.log) {
            events_.log("Closed the jig at " + peer_ + ": silent for " +
                        std::to_string(access_.idleLimit.count() / 1000) + " s");
        }
        Drop();
    });
}

void TcpJigPort::Read() {
    client_->async_read_some(
        asio::buffer(buffer_),
        [this, client = client_](const asio::error_code& error, std::size_t size) {
            if (client != client_) {
                return;
            }
            if (error) {
                Drop();
                return;
            }
            Heard();
            if (events_.received) {
                events_.received(std::string_view(buffer_.data(), size));
            }
            if (client == client_) {
                Read();
            }
        });
}

void TcpJigPort::Send(const std::string& bytes) {
    if (!client_) {
        return;
    }
    Heard();
    outgoing_.push_back(bytes);
    if (outgoing_.size() == 1) {
        WriteNext();
    }
}

void TcpJigPort::WriteNext() {
    asio::async_write(*client_, asio::buffer(outgoing_.front()),
                      [this, client = client_](const asio::error_code& error, std::size_t) {
                          if (client != client_) {
                              return;
                          }
                          if (error) {
                              Drop();
                              return;
                          }
                          outgoing_.pop_front();
                          if (!outgoing_.empty()) {
                              WriteNext();
                          }
                      });
}

void TcpJigPort::Drop() {
    if (!client_) {
        return;
    }
    asio::error_code ignored;
    client_->shutdown(asio::socket_base::shutdown_both, ignored);
    client_->close(ignored);
    client_.reset();
    outgoing_.clear();
    idle_.cancel();
    if (events_.disconnected) {
        events_.disconnected();
    }
}

} // namespace vrax
