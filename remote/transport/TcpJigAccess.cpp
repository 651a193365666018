#include "remote/transport/TcpJigAccess.h"

#include "remote/transport/JigPorts.h"

#include <charconv>

namespace vrax {

namespace {

// IPv4 clients of a dual-stack socket come as ::ffff:a.b.c.d.
asio::ip::address Unmapped(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

bool SamePrefix(const asio::ip::address& a, const asio::ip::address& b, unsigned bits) {
    if (a.is_v4() != b.is_v4()) {
        return false;
    }
    const auto compare = [bits](const auto& x, const auto& y) {
        for (unsigned i = 0; i < bits; ++i) {
            const unsigned mask = 0x80u >> (i % 8);
            if ((x[i / 8] & mask) != (y[i / 8] & mask)) {
                return false;
            }
        }
        return true;
    };
    return a.is_v4() ? compare(a.to_v4().to_bytes(), b.to_v4().to_bytes())
                     : compare(a.to_v6().to_bytes(), b.to_v6().to_bytes());
}

// The address with every bit past the first `bits` cleared.
asio::ip::address Masked(const asio::ip::address& address, unsigned bits) {
    const auto clear = [bits](auto bytes) {
        for (unsigned i = bits; i < bytes.size() * 8; ++i) {
            bytes[i / 8] = static_cast<unsigned char>(bytes[i / 8] & ~(0x80u >> (i % 8)));
        }
        return bytes;
    };
    if (address.is_v4()) {
        return asio::ip::address_v4(clear(address.to_v4().to_bytes()));
    }
    return asio::ip::address_v6(clear(address.to_v6().to_bytes()));
}

} // namespace

std::string TcpJigAccess::Allow(const std::string& cidr) {
    if (cidr.find('%') != std::string::npos) {
        throw JigPortError("--remote-allow " + cidr +
                           ": a zone (%INTERFACE) is not taken; give the range's address alone");
    }
    const std::size_t slash = cidr.find('/');
    asio::error_code error;
    const asio::ip::address network =
        Unmapped(asio::ip::make_address(cidr.substr(0, slash), error));
    const unsigned widest = !error && network.is_v4() ? 32 : 128;
    unsigned bits = widest;
    if (!error && slash != std::string::npos) {
        const char* first = cidr.data() + slash + 1;
        const char* last = cidr.data() + cidr.size();
        const auto [end, failed] = std::from_chars(first, last, bits);
        if (first == last || failed != std::errc{} || end != last) {
            bits = widest + 1;
        }
    }
    if (error || bits > widest) {
        throw JigPortError("--remote-allow " + cidr + ": expected ADDRESS/BITS (10.0.0.0/8)");
    }
    if (Masked(network, bits) != network) {
        throw JigPortError("--remote-allow " + cidr + ": the address has bits set past the first " +
                           std::to_string(bits) + ", which would allow all of " +
                           Masked(network, bits).to_string() + "/" + std::to_string(bits) +
                           "; give that range, or the one address as /" + std::to_string(widest));
    }
    ranges_.push_back({network, bits});
    if (bits == 0) {
        return "--remote-allow " + cidr +
               ": every address may drive this station, from any network that reaches it";
    }
    return {};
}

bool TcpJigAccess::Admits(const asio::ip::address& peer) const {
    const asio::ip::address address = Unmapped(peer);
    if (address.is_loopback()) {
        return true;
    }
    for (const Range& range : ranges_) {
        if (SamePrefix(address, range.network, range.bits)) {
            return true;
        }
    }
    return false;
}

} // namespace vrax
