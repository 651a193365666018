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
                       JigPortEvents events)
    : acceptor_(io), events_(std::move(events)) {
    asio::error_code error;
    const asio::ip::address ip = asio::ip::make_address(address, error);
    if (error) {
        throw JigPortError("tcp:" + address + ":" + std::to_string(port) + ": not an IP address (" +
                           error.message() + ")");
    }
    const asio::ip::tcp::endpoint endpoint(ip, port);
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
            const std::string peer = EndpointText(socket.remote_endpoint(ignored));
            if (client_) {
                // One jig drives the station; another is told so and let go.
                if (events_.log) {
                    events_.log("Refused a second jig from " + peer + ": one is connected");
                }
                auto refused = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
                auto text =
                    std::make_shared<std::string>("#" + RemoteErrorNumber(RemoteError::Busy) +
                                                  ":BUSY ANOTHER JIG IS CONNECTED\r\n");
                asio::async_write(*refused, asio::buffer(*text),
                                  [refused, text](const asio::error_code&, std::size_t) {
                                      asio::error_code ignore;
                                      refused->shutdown(asio::socket_base::shutdown_both, ignore);
                                      refused->close(ignore);
                                  });
            } else {
                client_ = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
                client_->set_option(asio::ip::tcp::no_delay(true), ignored);
                if (events_.connected) {
                    events_.connected(peer);
                }
                Read();
            }
        }
        Accept();
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
    if (events_.disconnected) {
        events_.disconnected();
    }
}

} // namespace vrax
