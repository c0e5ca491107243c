// Peer addresses and the groups the connection limit counts by.
#include "net_address.h"

#include <gtest/gtest.h>

namespace {

TEST(NetAddress, EveryPeerHasAGroupThatItsConnectionIsReleasedBy) {
    struct Case {
        const char* peer;
        const char* address;
        const char* group;
    };
    const Case cases[] = {
        {"192.0.2.7", "192.0.2.7", "192.0.2.7"},
        {"::ffff:192.0.2.7", "192.0.2.7", "192.0.2.7"},
        {"2001:DB8::1:2:3:4", "2001:db8::1:2:3:4", "2001:db8::/64"},
        // A link-local peer comes with its zone: counted by its address, like any other.
        {"fe80::1%2", "fe80::1", "fe80::/64"},
        {"fe80::abcd%eth0", "fe80::abcd", "fe80::/64"},
        {"not an address", "", "(unknown)"},
    };
    for (const Case& c : cases) {
        const std::string address = CanonicalPeerAddress(c.peer);
        EXPECT_EQ(address, c.address) << c.peer;
        EXPECT_EQ(ConnectionGroup(address), c.group) << c.peer;
    }
    // A header's address keeps no zone: it is no peer's.
    EXPECT_EQ(CanonicalAddress("fe80::1%2"), "");
}

TEST(NetAddress, NeighbouringAddressesShareANetworkAndAProxyNamesItsClient) {
    const struct {
        const char* address;
        const char* network;
    } cases[] = {
        {"192.0.2.7", "192.0.2.0/24"},
        {"192.0.2.255", "192.0.2.0/24"},
        {"198.51.100.1", "198.51.100.0/24"},
        {"2001:db8:1:2:3:4:5:6", "2001:db8:1::/48"},
        {"2001:db8:1:ffff::1", "2001:db8:1::/48"},
        {"2001:db8:2::1", "2001:db8:2::/48"},
        {"", "(unknown)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConnectionNetwork(c.address), c.network) << c.address;

    // A proxy's header in its canonical form; the proxy itself when the header is no address.
    EXPECT_EQ(ClientAddress("127.0.0.1", "::ffff:203.0.113.4", {"127.0.0.1"}), "203.0.113.4");
    EXPECT_EQ(ClientAddress("127.0.0.1", "not an address", {"127.0.0.1"}), "127.0.0.1");
}

// The quota's groups: a /24 for IPv4 (whatever form the address came in), a /64 for IPv6.
TEST(NetAddress, StorageIsSharedByNetworks) {
    const std::pair<const char*, const char*> cases[] = {
        {"192.0.2.7", "192.0.2.0/24"},
        {"192.0.2.255", "192.0.2.0/24"},
        {"192.0.3.7", "192.0.3.0/24"},
        {"2001:db8::1:2:3:4", "2001:db8::/64"},
        {"2001:db8:0:1::9", "2001:db8:0:1::/64"},
        {"", "(unknown)"},
    };
    for (const auto& [address, group] : cases)
        EXPECT_EQ(AddressGroup(CanonicalAddress(address)), group) << address;
    EXPECT_EQ(AddressGroup(CanonicalAddress("::ffff:192.0.2.9")), "192.0.2.0/24");
}

} // namespace
