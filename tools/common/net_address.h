#pragma once

#include <string>
#include <vector>

// An IP address in one written form: IPv4-mapped IPv6 addresses ("::ffff:127.0.0.1") as their
// IPv4 address, IPv6 addresses compressed in lower case. Empty when `text` is no IP address.
std::string CanonicalAddress(const std::string& text);

// The address of a connected peer: as CanonicalAddress, a link-local IPv6 address without its
// zone ("fe80::1%eth0" is "fe80::1"), so that it is counted and released like any other.
std::string CanonicalPeerAddress(const std::string& text);

// What the per-address connection limit counts by: the address itself for IPv4, the /64
// network for IPv6 (one machine commonly holds a whole /64); never empty ("(unknown)" for no
// address), so that every counted connection is released by its group.
std::string ConnectionGroup(const std::string& canonicalAddress);

// The wider network a connection counts against as well: the /24 of an IPv4 address, the /48
// of an IPv6 one (what one site is commonly given), so that a crowd of neighbouring addresses
// cannot take every connection. Never empty, like ConnectionGroup.
std::string ConnectionNetwork(const std::string& canonicalAddress);

// The network a client address belongs to: the /24 for IPv4 ("203.0.113.0/24"), the /64 for
// IPv6; "(unknown)" for no address. The database's quota is shared by these groups.
std::string AddressGroup(const std::string& canonicalAddress);

bool IsLoopbackAddress(const std::string& canonicalAddress);

// The client of a request from `peer`: the address `forwarded` (a proxy's X-Real-IP) when the
// peer is one of `proxies` (canonical addresses) and it is an address; the peer otherwise.
std::string ClientAddress(const std::string& peer, const std::string& forwarded,
                          const std::vector<std::string>& proxies);
