// The reader's interface-address list against the C library's (getifaddrs)
// for the same namespace: every kind of address the kernel hands out
// (broadcast or not, /31 and /32, point-to-point peers on broadcast and
// point-to-point links, labels, IPv6 peers and extra link-locals, links
// with and without hardware addresses) must come out the same, field by
// field, as when the reading was made from getifaddrs.
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <unordered_map>

#include "netcore/interfaces/address_records.h"
#include "netcore/interfaces/interface_reader.h"
#include "netcore/interfaces/test_namespace.h"
#include "netcore/shim/bcn_interfaces.h"
#include "platform/testing/test_support.h"

namespace {

using bcn::InterfaceSnapshot;
using bcn::testing::TestNamespace;
using bcn::testing::uniqueInterfaceName;

// What a reading shows that comes from the address list alone. IPv6
// per-address flags are left out: getifaddrs has none.
struct Listed {
  std::string name;
  std::uint32_t index = 0;
  std::uint32_t flags = 0;
  std::optional<bcn::LinkAddress> linkAddress;
  std::vector<bcn::IPv4Address> ipv4;
  std::vector<bcn::IPv6Address> ipv6;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Listed& l) {
  os << l.name << " #" << l.index << " flags " << std::hex << l.flags << std::dec << " hw "
     << (l.linkAddress ? l.linkAddress->description() + "/" + std::to_string(l.linkAddress->type) : "-");
  for (const auto& a : l.ipv4) {
    os << " | " << a.address << " mask " << a.netmask.value_or("-") << " /" << a.prefixLength.value_or(-1) << " brd "
       << a.broadcast.value_or("-") << " dst " << a.destination.value_or("-");
  }
  for (const auto& a : l.ipv6) os << " | " << a.address << "/" << a.prefixLength.value_or(-1) << "%" << a.scopeID;
  return os;
}

// The list as the reading used to make it: getifaddrs entries through the
// same record functions, names in first-appearance order.
std::vector<Listed> fromGetifaddrs() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return {};
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(raw, &freeifaddrs);
  std::vector<Listed> out;
  std::unordered_map<std::string, std::size_t> byName;
  for (const ifaddrs* e = list.get(); e != nullptr; e = e->ifa_next) {
    auto [it, inserted] = byName.try_emplace(e->ifa_name, out.size());
    if (inserted) {
      out.push_back(Listed{e->ifa_name, if_nametoindex(e->ifa_name), bcn_bsd_interface_flags(e->ifa_flags), {}, {}, {}});
    }
    Listed& l = out[it->second];
    if (e->ifa_addr == nullptr) continue;
    if (e->ifa_addr->sa_family == AF_INET) {
      l.ipv4.push_back(bcn::ipv4Address(e->ifa_addr, e->ifa_netmask, e->ifa_broadaddr, e->ifa_flags));
    } else if (e->ifa_addr->sa_family == AF_INET6) {
      sockaddr_in6 in6;
      std::memcpy(&in6, e->ifa_addr, sizeof in6);
      l.ipv6.push_back(bcn::ipv6Address(in6, e->ifa_netmask, 0));
    } else if (e->ifa_addr->sa_family == AF_PACKET) {
      std::uint8_t bytes[32];
      const std::size_t n = bcn_sockaddr_dl_lladdr(e->ifa_addr, bytes, sizeof bytes);
      if (n > 0) l.linkAddress = bcn::LinkAddress{{bytes, bytes + n}, bcn_sockaddr_dl_type(e->ifa_addr)};
    }
  }
  return out;
}

std::vector<Listed> fromReader() {
  std::vector<Listed> out;
  for (InterfaceSnapshot& s : bcn::InterfaceReader().snapshot()) {
    for (bcn::IPv6Address& a : s.ipv6) a.flags = 0;
    out.push_back(Listed{s.name, s.index, s.flags, s.linkAddress, s.ipv4, s.ipv6});
  }
  return out;
}

TEST(ReaderParity, EveryAddressKindMatchesTheCLibrarysList) {
  if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: creates a network namespace";
  TestNamespace ns("parity");
  ASSERT_TRUE(ns.created());
  const std::string d0 = uniqueInterfaceName("pd"), d1 = uniqueInterfaceName("pe");
  const std::string tun = uniqueInterfaceName("pt");
  ASSERT_TRUE(ns.ip("link set lo up"));
  // The far end stays down and bare.
  if (!ns.ip("link add " + d0 + " type veth peer name " + d1)) GTEST_SKIP() << "kernel lacks veth";
  for (const std::string& command : {
           "addr add 10.61.0.1/24 broadcast 10.61.0.255 dev " + d0,
           "addr add 10.61.1.1/24 dev " + d0,  // no broadcast address
           "addr add 10.61.2.0/31 dev " + d0,
           "addr add 10.61.3.1/32 dev " + d0,
           "addr add 10.61.4.1/16 broadcast + dev " + d0 + " label " + d0 + ":x",
           "addr add 10.61.5.1 peer 10.61.5.2/32 dev " + d0,  // a peer on a broadcast link
           "addr add fd00:61::1/64 dev " + d0 + " nodad",
           "addr add fd00:62::1 peer fd00:62::2 dev " + d0 + " nodad",
           "addr add fe80::61/64 dev " + d0 + " nodad",
           "addr add fd00:63::1/128 dev " + d0 + " nodad",
           "link set " + d0 + " up",
       }) {
    ASSERT_TRUE(ns.ip(command)) << command;
  }
  // A point-to-point link without hardware address.
  if (!ns.ip("tuntap add dev " + tun + " mode tun")) GTEST_SKIP() << "kernel lacks tun";
  ASSERT_TRUE(ns.ip("addr add 10.62.0.1 peer 10.62.0.2 dev " + tun));
  ASSERT_TRUE(ns.ip("addr add fd00:64::1/64 dev " + tun + " nodad"));
  ASSERT_TRUE(ns.ip("link set " + tun + " up"));

  const auto compared = ns.inside([] {
    // The kernel may still add an address (a link-local) while the three
    // readings run; compare only a reading between two equal references.
    for (int attempt = 0; attempt < 5; ++attempt) {
      const auto before = fromGetifaddrs();
      const auto ours = fromReader();
      if (fromGetifaddrs() == before) return std::make_pair(before, ours);
    }
    Listed unsettled;
    unsettled.name = "(the namespace kept changing)";
    return std::make_pair(std::vector<Listed>{}, std::vector<Listed>{unsettled});
  });
  ASSERT_TRUE(compared.has_value());
  const auto& [expected, actual] = *compared;
  ASSERT_EQ(expected.size(), 5u);  // lo, the pair, the tun and the label
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << "entry " << i;
}

}  // namespace
