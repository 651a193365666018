#include "remote/transport/SerialJigPort.h"

namespace vrax {

SerialJigPort::SerialJigPort(asio::io_context& io, const std::string& device, unsigned baud,
                             JigPortEvents events)
    : line_(io), retry_(io), device_(device), baud_(baud), events_(std::move(events)) {
    if (const asio::error_code error = OpenLine()) {
        throw JigPortError("Cannot open " + Name() + ": " + error.message());
    }
}

std::string SerialJigPort::Name() const {
    return "serial:" + device_ + "," + std::to_string(baud_);
}

asio::error_code SerialJigPort::OpenLine() {
    asio::error_code error;
    line_.open(device_, error);
    if (!error) {
        line_.set_option(asio::serial_port::baud_rate(baud_), error);
    }
    if (!error) {
        line_.set_option(asio::serial_port::character_size(8), error);
    }
    if (!error) {
        line_.set_option(asio::serial_port::parity(asio::serial_port::parity::none), error);
    }
    if (!error) {
        line_.set_option(asio::serial_port::stop_bits(asio::serial_port::stop_bits::one), error);
    }
    if (!error) {
        line_.set_option(asio::serial_port::flow_control(asio::serial_port::flow_control::none),
                         error);
    }
    if (error) {
        asio::error_code ignored;
        line_.close(ignored);
        return error;
    }
    if (events_.connected) {
        events_.connected(Name());
    }
    Read();
    return {};
}

void SerialJigPort::Read() {
    line_.async_read_some(asio::buffer(buffer_),
                          [this](const asio::error_code& error, std::size_t size) {
                              if (error) {
                                  Lost(error);
                                  return;
                              }
                              if (events_.received) {
                                  events_.received(std::string_view(buffer_.data(), size));
                              }
                              Read();
                          });
}

void SerialJigPort::Send(const std::string& bytes) {
    if (!line_.is_open()) {
        return;
    }
    outgoing_.push_back(bytes);
    if (outgoing_.size() == 1) {
        WriteNext();
    }
}

void SerialJigPort::WriteNext() {
    asio::async_write(line_, asio::buffer(outgoing_.front()),
                      [this](const asio::error_code& error, std::size_t) {
                          if (error) {
                              Lost(error);
                              return;
                          }
                          outgoing_.pop_front();
                          if (!outgoing_.empty()) {
                              WriteNext();
                          }
                      });
}

void SerialJigPort::Lost(const asio::error_code& error) {
    if (error == asio::error::operation_aborted || !line_.is_open()) {
        return;
    }
    if (events_.log) {
        events_.log("Lost " + Name() + " (" + error.message() + "); opening it again every second");
    }
    asio::error_code ignored;
    line_.close(ignored);
    outgoing_.clear();
    if (events_.disconnected) {
        events_.disconnected();
    }
    RetryLater();
}

void SerialJigPort::RetryLater() {
    retry_.expires_after(std::chrono::seconds(1));
    retry_.async_wait([this](const asio::error_code& waited) {
        if (waited) {
            return;
        }
        if (OpenLine()) {
            RetryLater();
        } else if (events_.log) {
            events_.log("Opened " + Name() + " again");
        }
    });
}

} // namespace vrax
