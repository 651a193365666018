#pragma once

#include <asio.hpp>

#include <chrono>
#include <string>
#include <vector>

namespace vrax {

// Who may drive the station over TCP, and for how long a silent one keeps it. The station's
// own PC (a loopback address) always may; any other address only inside a --remote-allow range.
class TcpJigAccess {
public:
    // Throws JigPortError for a range that is not ADDRESS/BITS, that names an interface's zone
    // (fe80::1%eth0/64: the zone would be ignored) or whose address has bits set past its prefix
    // (10.1.2.77/8 would open all of 10/8). Returns a warning for a range that admits every
    // address (/0), else nothing.
    std::string Allow(const std::string& cidr);
    bool Admits(const asio::ip::address& peer) const;
    // A listening address a jig from outside could reach needs some range allowed.
    bool MayListenOn(const asio::ip::address& address) const {
        return address.is_loopback() || !ranges_.empty();
    }

    static constexpr std::chrono::minutes DefaultIdleLimit{5};
    // Counted from the last byte either way: a job's heartbeats keep its jig.
    std::chrono::milliseconds idleLimit = DefaultIdleLimit;

private:
    struct Range {
        asio::ip::address network;
        unsigned bits = 0;
    };
    std::vector<Range> ranges_;
};

} // namespace vrax
