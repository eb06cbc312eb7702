#include "tools/beaconbar/overview_report.h"

#include <gtest/gtest.h>

#include "tools/beaconbar/services_format.h"
#include "tools/beaconbar/testing/json_keys.h"
#include "tools/beaconbar/testing/model_fixtures.h"

namespace bcn::cli {
namespace {

using testing::keysOf;
using Strings = std::vector<std::string>;

OverviewReport report() {
  OverviewReport r;
  r.sampleSeconds = 1;
  r.interfaces = {{testing::loopback(), RateSample{Date{1}, 1, 0, 0}},
                  {testing::ethernet(), RateSample{Date{1}, 1, 1239, 312}},
                  {testing::tunnel(), std::nullopt}};
  r.configuration = testing::configuration();
  r.tunnels = TunnelOwnerMap{{"utun3", TunnelOwner{812, "openvpn", "/usr/sbin/openvpn"}}};
  r.publicAddress = PublicAddressReport{"ifconfig.co", "https://ifconfig.co/ip", {"203.0.113.7", std::nullopt, {}}};
  return r;
}

TEST(OverviewTextTest, AllSections) {
  EXPECT_EQ(formatOverview(report()),
            "Interfaces (traffic over 1.0 s)\n"
            "  lo     active  Loopback\n"
            "         in 0 B/s  out 0 B/s\n"
            "         inet 127.0.0.1/8\n"
            "         inet6 ::1/128\n"
            "  en0    active  Ethernet  autoselect (1000baseT <full-duplex>)\n"
            "         in 1.21 KiB/s  out 312 B/s\n"
            "         ether 00:1c:42:ab:cd:ef\n"
            "         inet 192.168.1.20/24\n"
            "         inet6 fe80::21c:42ff:feab:cdef%en0/64\n"
            "         inet6 2001:db8::20/64\n"
            "  utun3  active\n"
            "         in -  out -\n"
            "         inet 10.8.0.2 --> 10.8.0.1\n"
            "         inet6 fe80::1%7\n"
            "\n"
            "Services\n"
            "  #  NAME      INTERFACE  STATE            PRIMARY    ID\n"
            "  1  Ethernet  en0        enabled          IPv4+IPv6  8C1D2E3F-0001\n"
            "  2  Wi-Fi     en1        disabled         -          8C1D2E3F-0002\n"
            "  3  Büro VPN  utun3      enabled, hidden  -          8C1D2E3F-0003\n"
            "  Primary IPv4: en0\n"
            "  Primary IPv6: en0\n"
            "\n"
            "Tunnel owners\n"
            "  INTERFACE  PID  PROGRAM  PATH\n"
            "  utun3      812  openvpn  /usr/sbin/openvpn\n"
            "\n"
            "Public address (ifconfig.co)\n"
            "  IPv4  203.0.113.7\n"
            "  IPv6  unavailable\n");
}

TEST(OverviewTextTest, OfflineAndUnprivilegedEachTakeOneLine) {
  OverviewReport r = report();
  r.interfaces = {};
  r.configuration = {};
  r.tunnels = std::unexpected(std::string("needs root"));
  r.publicAddress->result = {std::nullopt, std::nullopt, "no answer within 3 s"};
  EXPECT_EQ(formatOverview(r),
            "Interfaces (traffic over 1.0 s)\n"
            "  none\n"
            "\n"
            "Services\n"
            "  No network services are configured.\n"
            "  Primary IPv4: none\n"
            "  Primary IPv6: none\n"
            "\n"
            "Tunnel owners: unavailable (needs root)\n"
            "\n"
            "Public address: unavailable (no answer within 3 s)\n");
  r.tunnels = TunnelOwnerMap{};
  r.publicAddress.reset();
  EXPECT_EQ(formatOverview(r),
            "Interfaces (traffic over 1.0 s)\n"
            "  none\n"
            "\n"
            "Services\n"
            "  No network services are configured.\n"
            "  Primary IPv4: none\n"
            "  Primary IPv6: none\n"
            "\n"
            "Tunnel owners: none\n");
}

TEST(OverviewJsonTest, SchemaOfEverySection) {
  const auto json = overviewJson(report());
  EXPECT_EQ(keysOf(json), (Strings{"sampleSeconds", "interfaces", "services", "primaryIPv4Interface",
                                   "primaryIPv6Interface", "tunnels", "publicAddress"}));
  // The same keys and values as `services --json`.
  EXPECT_EQ(json["services"], servicesJson(testing::configuration())["services"]);
  EXPECT_EQ(json["primaryIPv6Interface"], "en0");
  ASSERT_EQ(json["interfaces"].size(), 3u);
  // The interface keys of `interfaces --json`, then the rate.
  EXPECT_EQ(keysOf(json["interfaces"][1]).back(), "rate");
  EXPECT_EQ(keysOf(json["interfaces"][1]).size(), 16u);
  EXPECT_EQ(json["interfaces"][1]["rate"]["in"], 1239.0);
  EXPECT_TRUE(json["interfaces"][2]["rate"].is_null());
  EXPECT_EQ(keysOf(json["tunnels"]), (Strings{"owners", "error"}));
  EXPECT_EQ(keysOf(json["tunnels"]["owners"][0]), (Strings{"interface", "pid", "name", "path"}));
  EXPECT_TRUE(json["tunnels"]["error"].is_null());
  EXPECT_EQ(keysOf(json["publicAddress"]), (Strings{"source", "url", "ipv4", "ipv6", "error"}));
  EXPECT_EQ(json["publicAddress"]["ipv4"], "203.0.113.7");
  EXPECT_TRUE(json["publicAddress"]["ipv6"].is_null());
}

TEST(OverviewJsonTest, UnavailableSectionsKeepTheirKeys) {
  OverviewReport r = report();
  r.tunnels = std::unexpected(std::string("needs root"));
  r.publicAddress.reset();
  const auto json = overviewJson(r);
  EXPECT_TRUE(json["tunnels"]["owners"].is_null());
  EXPECT_EQ(json["tunnels"]["error"], "needs root");
  EXPECT_TRUE(json["publicAddress"].is_null());
}

}  // namespace
}  // namespace bcn::cli
