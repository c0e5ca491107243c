#include "net_address.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cstdint>

namespace ip = boost::asio::ip;

std::string CanonicalAddress(const std::string& text) {
    boost::system::error_code ec;
    ip::address address = ip::make_address(text, ec);
    if (ec)
        return {};
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return ip::make_address_v4(ip::v4_mapped, address.to_v6()).to_string();
    if (address.is_v6() && address.to_v6().scope_id() != 0)
        return {};
    return address.to_string();
}

std::string CanonicalPeerAddress(const std::string& text) {
    return CanonicalAddress(text.substr(0, text.find('%')));
}

namespace {

// The address with all but its first `bits` bits cleared, written with its prefix length;
// the address itself for IPv4 with 32 bits. "(unknown)" for no address.
std::string Prefix(const std::string& canonicalAddress, int v4Bits, int v6Bits) {
    boost::system::error_code ec;
    ip::address address = ip::make_address(canonicalAddress, ec);
    if (ec)
        return "(unknown)";
    if (address.is_v4()) {
        if (v4Bits >= 32)
            return canonicalAddress;
        const std::uint32_t mask = ~std::uint32_t{0} << (32 - v4Bits);
        return ip::address_v4(address.to_v4().to_uint() & mask).to_string() + "/" +
               std::to_string(v4Bits);
    }
    ip::address_v6::bytes_type bytes = address.to_v6().to_bytes();
    for (size_t i = static_cast<size_t>(v6Bits / 8); i < bytes.size(); ++i)
        bytes[i] = 0;
    return ip::address_v6(bytes).to_string() + "/" + std::to_string(v6Bits);
}

} // namespace

std::string ConnectionGroup(const std::string& canonicalAddress) {
    return Prefix(canonicalAddress, 32, 64);
}

std::string ConnectionNetwork(const std::string& canonicalAddress) {
    return Prefix(canonicalAddress, 24, 48);
}

std::string AddressGroup(const std::string& canonicalAddress) {
    return Prefix(canonicalAddress, 24, 64);
}

bool IsLoopbackAddress(const std::string& canonicalAddress) {
    boost::system::error_code ec;
    ip::address address = ip::make_address(canonicalAddress, ec);
    return !ec && address.is_loopback();
}

std::string ClientAddress(const std::string& peer, const std::string& forwarded,
                          const std::vector<std::string>& proxies) {
    if (std::find(proxies.begin(), proxies.end(), peer) == proxies.end())
        return peer;
    const std::string real = CanonicalAddress(forwarded);
    return real.empty() ? peer : real;
}
