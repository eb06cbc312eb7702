// The reader against this machine's own interfaces, checked field by field
// against `ip -d -s -j addr` taken between two readings (counters move, so
// they must lie between the two).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "netcore/interfaces/bit_names.h"
#include "netcore/interfaces/interface_reader.h"
#include "netcore/interfaces/testing/find_snapshot.h"
#include "netcore/interfaces/test_namespace.h"
#include "platform/testing/test_support.h"

namespace {

using bcn::InterfaceSnapshot;
using bcn::testing::find;
using nlohmann::json;

bool hasIpFlag(const json& link, const char* flag) {
  const json flags = link.value("flags", json::array());
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

std::uint32_t expectedFlags(const json& link) {
  std::uint32_t flags = 0;
  if (hasIpFlag(link, "UP")) flags |= 0x1;
  if (hasIpFlag(link, "BROADCAST")) flags |= 0x2;
  if (hasIpFlag(link, "DEBUG")) flags |= 0x4;
  if (hasIpFlag(link, "LOOPBACK")) flags |= 0x8;
  if (hasIpFlag(link, "POINTOPOINT")) flags |= 0x10;
  // ip shows NO-CARRIER exactly for interfaces that are up but not running.
  if (hasIpFlag(link, "UP") && !hasIpFlag(link, "NO-CARRIER")) flags |= 0x40;
  if (hasIpFlag(link, "NOARP")) flags |= 0x80;
  if (hasIpFlag(link, "PROMISC")) flags |= 0x100;
  if (hasIpFlag(link, "ALLMULTI")) flags |= 0x200;
  if (hasIpFlag(link, "MULTICAST")) flags |= 0x8000;
  return flags;
}

void expectBetween(std::uint64_t before, const json& value, std::uint64_t after, const std::string& what) {
  ASSERT_TRUE(value.is_number_unsigned()) << what;
  const auto v = value.get<std::uint64_t>();
  EXPECT_LE(before, v) << what;
  EXPECT_LE(v, after) << what;
}

void compareCounters(const InterfaceSnapshot& a, const json& stats, const InterfaceSnapshot& b) {
  const json& rx = stats.at("rx");
  const json& tx = stats.at("tx");
  expectBetween(a.counters.bytesIn, rx.at("bytes"), b.counters.bytesIn, a.name + " rx bytes");
  expectBetween(a.counters.packetsIn, rx.at("packets"), b.counters.packetsIn, a.name + " rx packets");
  expectBetween(a.counters.errorsIn, rx.at("errors"), b.counters.errorsIn, a.name + " rx errors");
  expectBetween(a.counters.dropsIn, rx.at("dropped"), b.counters.dropsIn, a.name + " rx dropped");
  expectBetween(a.counters.multicastIn, rx.at("multicast"), b.counters.multicastIn, a.name + " multicast");
  expectBetween(a.counters.bytesOut, tx.at("bytes"), b.counters.bytesOut, a.name + " tx bytes");
  expectBetween(a.counters.packetsOut, tx.at("packets"), b.counters.packetsOut, a.name + " tx packets");
  expectBetween(a.counters.errorsOut, tx.at("errors"), b.counters.errorsOut, a.name + " tx errors");
  expectBetween(a.counters.collisions, tx.at("collisions"), b.counters.collisions, a.name + " collisions");
}

void compareAddresses(const InterfaceSnapshot& s, const json& link) {
  std::size_t v4 = 0, v6 = 0;
  for (const json& a : link.value("addr_info", json::array())) {
    const std::string family = a.value("family", "");
    const std::string local = a.value("local", "");
    if (family == "inet") {
      // Addresses under another label belong to that label's snapshot.
      if (a.value("label", s.name) != s.name) continue;
      ASSERT_LT(v4, s.ipv4.size()) << s.name;
      const bcn::IPv4Address& mine = s.ipv4[v4++];
      EXPECT_EQ(mine.address, local);
      EXPECT_EQ(mine.prefixLength, a.value("prefixlen", -1)) << local;
      if (a.contains("broadcast")) {
        EXPECT_EQ(mine.broadcast, a.value("broadcast", "")) << local;
      }
      if (a.contains("address")) {
        EXPECT_EQ(mine.destination, a.value("address", "")) << local;
      }
    } else if (family == "inet6") {
      ++v6;
      auto it = std::find_if(s.ipv6.begin(), s.ipv6.end(), [&](const bcn::IPv6Address& x) { return x.address == local; });
      ASSERT_NE(it, s.ipv6.end()) << s.name << " " << local;
      EXPECT_EQ(it->prefixLength, a.value("prefixlen", -1)) << local;
      EXPECT_EQ(it->scopeID, a.value("scope", "") == "link" ? s.index : 0u) << local;
      const auto names = it->flagNames();
      auto named = [&](const char* n) { return std::find(names.begin(), names.end(), n) != names.end(); };
      EXPECT_EQ(named("tentative"), a.value("tentative", false)) << local;
      EXPECT_EQ(named("deprecated"), a.value("deprecated", false)) << local;
      EXPECT_EQ(named("duplicated"), a.value("dadfailed", false)) << local;
      EXPECT_EQ(named("temporary"), a.value("temporary", false)) << local;
      EXPECT_EQ(named("dynamic"), a.value("dynamic", false)) << local;
    }
  }
  EXPECT_EQ(v4, s.ipv4.size()) << s.name;
  EXPECT_EQ(v6, s.ipv6.size()) << s.name;
}

// The IPv6 settings the ND6 flags come from, as /proc/sys shows them.
void compareNd6Flags(const InterfaceSnapshot& s) {
  const std::filesystem::path dir = "/proc/sys/net/ipv6/conf/" + s.name;
  if (!std::filesystem::exists(dir)) {
    EXPECT_FALSE(s.nd6Flags.has_value());
    return;
  }
  ASSERT_TRUE(s.nd6Flags.has_value());
  auto setting = [&](const char* name) { return std::stoi(bcn::testing::readText(dir / name)); };
  EXPECT_EQ((*s.nd6Flags & 0x200) != 0, setting("accept_dad") > 0) << "DAD";
  EXPECT_EQ((*s.nd6Flags & 0x8) != 0, setting("disable_ipv6") != 0) << "IFDISABLED";
  const int acceptRa = setting("accept_ra");
  EXPECT_EQ((*s.nd6Flags & 0x2) != 0, acceptRa == 2 || (acceptRa == 1 && setting("forwarding") == 0))
      << "ACCEPT_RTADV";
}

TEST(HostInterfaces, MatchWhatIpReports) {
  const bcn::InterfaceReader reader;
  const auto first = reader.snapshot();
  const json links = json::parse(bcn::testing::commandOutput("ip -d -s -j addr 2>/dev/null"), nullptr, false);
  const auto second = reader.snapshot();
  if (!links.is_array()) GTEST_SKIP() << "ip -j is not available";
  ASSERT_FALSE(first.empty());

  std::vector<std::string> ipOrder, readerOrder;
  for (const json& link : links) ipOrder.push_back(link.value("ifname", ""));
  for (const InterfaceSnapshot& s : first) {
    if (s.index != 0) readerOrder.push_back(s.name);  // names with a link, in first-appearance order
  }
  EXPECT_EQ(readerOrder, ipOrder);

  for (const json& link : links) {
    const std::string name = link.value("ifname", "");
    const InterfaceSnapshot* a = find(first, name);
    const InterfaceSnapshot* b = find(second, name);
    ASSERT_TRUE(a && b) << name;
    SCOPED_TRACE(name);
    EXPECT_EQ(a->index, link.value("ifindex", 0u));
    EXPECT_EQ(a->mtu, link.value("mtu", 0u));
    EXPECT_EQ(a->flags, expectedFlags(link)) << bcn::BitNames::interfaceFlags().format(a->flags);
    const std::string hw = link.value("address", "");
    if (link.value("link_type", "") == "none" || hw.empty()) {
      EXPECT_FALSE(a->linkAddress.has_value());
    } else {
      ASSERT_TRUE(a->linkAddress.has_value());
      EXPECT_EQ(a->linkAddress->description(), hw);
    }
    if (link.value("link_type", "") == "ether") {
      EXPECT_EQ(a->ifType, 6);
    }
    if (link.value("link_type", "") == "loopback") {
      EXPECT_EQ(a->ifType, 24);
      EXPECT_EQ(a->functionalType, bcn::FunctionalType::loopback);
    }
    // A hardware-backed Ethernet device is wired (or wireless/cellular).
    if (link.contains("parentdev") && link.value("link_type", "") == "ether") {
      EXPECT_NE(a->functionalType, bcn::FunctionalType::unknown);
    }
    compareCounters(*a, link.at("stats64"), *b);
    compareAddresses(*a, link);
    compareNd6Flags(*a);
    std::cout << "[ compared ] " << name << " index " << a->index << " flags "
              << bcn::BitNames::interfaceFlags().format(a->flags) << " mtu " << a->mtu << " type "
              << int{a->ifType} << " lladdr " << (a->linkAddress ? a->linkAddress->description() : "-") << " v4 "
              << a->ipv4.size() << " v6 " << a->ipv6.size() << " media "
              << (a->media ? a->media->description() : "-") << " baud " << a->baudrate << " caps "
              << (a->capabilities ? bcn::BitNames::capabilities().format(*a->capabilities) : "-") << " nd6 "
              << (a->nd6Flags ? bcn::BitNames::nd6Flags().format(*a->nd6Flags) : "-") << " ftype "
              << bcn::rawValue(a->functionalType) << " rx " << a->counters.bytesIn << " tx "
              << a->counters.bytesOut << "\n";
  }
}

}  // namespace
