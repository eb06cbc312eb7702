#include "platform/dynstore/store_entries.h"

#include <gtest/gtest.h>
#include <net/if_arp.h>
#include <netinet/in.h>

#include "platform/dynstore/store_notifier.h"
#include "platform/netprefs/default_preferences.h"

namespace bcn::dynstore {
namespace {

using netprefs::KernelLink;
using netprefs::stableServiceID;

KernelLink link(int index, std::string name, bool running, std::string kind = "",
                std::uint32_t arp = ARPHRD_ETHER) {
  KernelLink l;
  l.index = index;
  l.name = std::move(name);
  l.up = running;
  l.running = running;
  l.kind = std::move(kind);
  l.arpType = arp;
  l.loopback = l.name == "lo";
  return l;
}

// Services A (eth0, enabled), B (eth0, disabled) and C (eth1, enabled), order C, A.
PlistDictionary preferences() {
  auto service = [](const std::string& device, bool enabled) {
    PlistDictionary s{{"UserDefinedName", "svc " + device},
                      {"Interface", PlistDictionary{{"DeviceName", device}, {"Type", "Ethernet"}}}};
    if (!enabled) s.set("__INACTIVE__", 1);
    return s;
  };
  auto member = [](const std::string& id) { return PlistDictionary{{"__LINK__", "/NetworkServices/" + id}}; };
  return PlistDictionary{
      {"CurrentSet", "/Sets/S"},
      {"Sets", PlistDictionary{{"S", PlistDictionary{{"Network", PlistDictionary{
                                          {"Service", PlistDictionary{{"A", member("A")}, {"B", member("B")},
                                                                      {"C", member("C")}}},
                                          {"Global", PlistDictionary{{"IPv4", PlistDictionary{
                                                         {"ServiceOrder", PlistArray{"C", "A"}}}}}}}}}}}},
      {"NetworkServices", PlistDictionary{{"A", service("eth0", true)}, {"B", service("eth0", false)},
                                          {"C", service("eth1", true)}}}};
}

KernelState kernel() {
  KernelState state;
  state.links = {link(1, "lo", true, "", ARPHRD_LOOPBACK), link(2, "eth0", true), link(3, "eth1", false),
                 link(4, "tun0", false, "tun", ARPHRD_NONE), link(5, "wg0", true, "wireguard", ARPHRD_NONE)};
  state.addresses = {{1, AF_INET, "127.0.0.1", 8},    {2, AF_INET, "192.0.2.2", 24},
                     {2, AF_INET6, "fe80::1", 64},    {2, AF_INET6, "fd00::2", 64},
                     {3, AF_INET6, "fe80::3", 64},    {5, AF_INET, "10.7.0.2", 32}};
  state.defaultRoutes = {{AF_INET, 5, 50, std::nullopt},
                         {AF_INET, 2, 10, "192.0.2.1"},
                         {AF_INET, 9, 0, "198.51.100.1"},  // a link that vanished meanwhile
                         {AF_INET6, 2, 1024, "fd00::1"}};
  return state;
}

const PlistDictionary& dict(const StoreEntries& entries, const std::string& key) {
  static const PlistDictionary empty;
  const auto found = entries.find(key);
  return found != entries.end() && found->second.dictionary() ? *found->second.dictionary() : empty;
}

TEST(StoreEntriesTest, InterfacesCarryTheirLinkStateAndAddresses) {
  const StoreEntries entries = computeStoreEntries(kernel(), preferences());
  EXPECT_EQ(dict(entries, "State:/Network/Interface"),
            (PlistDictionary{{"Interfaces", PlistArray{"lo", "eth0", "eth1", "tun0", "wg0"}}}));
  EXPECT_EQ(dict(entries, "State:/Network/Interface/eth0/Link"), (PlistDictionary{{"Active", true}}));
  EXPECT_EQ(dict(entries, "State:/Network/Interface/eth1/Link"), (PlistDictionary{{"Active", false}}));
  EXPECT_EQ(dict(entries, "State:/Network/Interface/eth0/IPv4"),
            (PlistDictionary{{"Addresses", PlistArray{"192.0.2.2"}}, {"SubnetMasks", PlistArray{"255.255.255.0"}}}));
  EXPECT_EQ(dict(entries, "State:/Network/Interface/eth0/IPv6"),
            (PlistDictionary{{"Addresses", PlistArray{"fe80::1", "fd00::2"}}, {"PrefixLength", PlistArray{64, 64}}}));
  EXPECT_EQ(entries.count("State:/Network/Interface/eth1/IPv4"), 0u);
}

TEST(StoreEntriesTest, PrimaryFollowsTheLowestMetricDefaultRoute) {
  const StoreEntries entries = computeStoreEntries(kernel(), preferences());
  EXPECT_EQ(dict(entries, "State:/Network/Global/IPv4"),
            (PlistDictionary{{"PrimaryInterface", "eth0"}, {"Router", "192.0.2.1"}, {"PrimaryService", "A"}}));
  EXPECT_EQ(dict(entries, "State:/Network/Global/IPv6"),
            (PlistDictionary{{"PrimaryInterface", "eth0"}, {"Router", "fd00::1"}, {"PrimaryService", "A"}}));

  KernelState noRoutes = kernel();
  noRoutes.defaultRoutes.clear();
  EXPECT_EQ(computeStoreEntries(noRoutes, preferences()).count("State:/Network/Global/IPv4"), 0u);
  KernelState tunnelFirst = kernel();
  tunnelFirst.defaultRoutes[0].metric = 1;
  EXPECT_EQ(dict(computeStoreEntries(tunnelFirst, preferences()), "State:/Network/Global/IPv4"),
            (PlistDictionary{{"PrimaryInterface", "wg0"}, {"PrimaryService", stableServiceID("wg0")}}));
}

TEST(StoreEntriesTest, ServicesGetStateOnlyWhenEnabledAndAddressed) {
  const StoreEntries entries = computeStoreEntries(kernel(), preferences());
  EXPECT_EQ(dict(entries, "State:/Network/Service/A/IPv4"),
            (PlistDictionary{{"InterfaceName", "eth0"}, {"Addresses", PlistArray{"192.0.2.2"}}}));
  EXPECT_EQ(dict(entries, "State:/Network/Service/A/IPv6"),
            (PlistDictionary{{"InterfaceName", "eth0"}, {"Addresses", PlistArray{"fd00::2"}}}));
  EXPECT_EQ(entries.count("State:/Network/Service/B/IPv4"), 0u);  // disabled
  EXPECT_EQ(entries.count("State:/Network/Service/C/IPv6"), 0u);  // only link-local
  EXPECT_EQ(dict(entries, "Setup:/Network/Service/B"), (PlistDictionary{{"UserDefinedName", "svc eth0"}, {"__INACTIVE__", 1}}));
  EXPECT_EQ(dict(entries, "Setup:/Network/Service/C/Interface"),
            (PlistDictionary{{"DeviceName", "eth1"}, {"Type", "Ethernet"}}));
}

TEST(StoreEntriesTest, UncoveredLinksBecomeTransientServices) {
  const StoreEntries entries = computeStoreEntries(kernel(), preferences());
  const std::string tun = stableServiceID("tun0");
  const std::string wg = stableServiceID("wg0");
  EXPECT_EQ(dict(entries, "Setup:/Network/Service/" + tun + "/Interface"), (PlistDictionary{{"DeviceName", "tun0"}}));
  EXPECT_EQ(dict(entries, "State:/Network/Service/" + tun), (PlistDictionary{{"__INACTIVE__", 1}}));
  EXPECT_EQ(entries.count("State:/Network/Service/" + wg), 0u);
  EXPECT_EQ(dict(entries, "State:/Network/Service/" + wg + "/IPv4"),
            (PlistDictionary{{"InterfaceName", "wg0"}, {"Addresses", PlistArray{"10.7.0.2"}}}));
  for (const std::string device : {"lo", "eth0", "eth1"}) {
    EXPECT_EQ(entries.count("Setup:/Network/Service/" + stableServiceID(device) + "/Interface"), 0u) << device;
  }
  // Without preferences every non-loopback link is transient; hardware gets a name.
  const StoreEntries bare = computeStoreEntries(kernel(), PlistDictionary{});
  EXPECT_EQ(dict(bare, "Setup:/Network/Service/" + stableServiceID("eth1") + "/Interface"),
            (PlistDictionary{{"DeviceName", "eth1"}, {"Type", "Ethernet"}, {"UserDefinedName", "Ethernet (eth1)"}}));
}

TEST(StoreEntriesTest, ChangedKeysListsAddedRemovedAndAlteredEntriesInOrder) {
  const StoreEntries before{{"a", 1}, {"b", 2}, {"c", 3}};
  const StoreEntries after{{"b", 2}, {"c", 4}, {"d", 5}};
  EXPECT_EQ(changedKeys(before, after), (std::vector<std::string>{"a", "c", "d"}));
  EXPECT_TRUE(changedKeys(after, after).empty());
}

}  // namespace
}  // namespace bcn::dynstore
