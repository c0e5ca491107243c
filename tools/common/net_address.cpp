#include "net_address.h"

#include <boost/asio/ip/address.hpp>

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

std::string ConnectionGroup(const std::string& canonicalAddress) {
    boost::system::error_code ec;
    ip::address address = ip::make_address(canonicalAddress, ec);
    if (ec)
        return "(unknown)";
    if (address.is_v4())
        return canonicalAddress;
    ip::address_v6::bytes_type bytes = address.to_v6().to_bytes();
    for (size_t i = 8; i < bytes.size(); ++i)
        bytes[i] = 0;
    return ip::address_v6(bytes).to_string() + "/64";
}

std::string AddressGroup(const std::string& canonicalAddress) {
    boost::system::error_code ec;
    ip::address address = ip::make_address(canonicalAddress, ec);
    if (ec)
        return "(unknown)";
    if (address.is_v6())
        return ConnectionGroup(canonicalAddress);
    ip::address_v4::bytes_type bytes = address.to_v4().to_bytes();
    bytes[3] = 0;
    return ip::address_v4(bytes).to_string() + "/24";
}

bool IsLoopbackAddress(const std::string& canonicalAddress) {
    boost::system::error_code ec;
    ip::address address = ip::make_address(canonicalAddress, ec);
    return !ec && address.is_loopback();
}
