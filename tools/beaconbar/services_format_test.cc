// Golden outputs and JSON schemas of the services table, its overview
// section and the change lines of `services watch`.
#include "tools/beaconbar/services_format.h"

#include <gtest/gtest.h>

#include "tools/beaconbar/overview_report.h"
#include "tools/beaconbar/testing/json_keys.h"
#include "tools/beaconbar/testing/model_fixtures.h"

namespace bcn::cli {
namespace {

using testing::keysOf;
using Strings = std::vector<std::string>;

TEST(ServicesTextTest, OrderStatesAndPrimaries) {
  NetworkMetadata m = testing::configuration();
  m.primaryIPv6Interface = "utun3";
  EXPECT_EQ(formatServices(m),
            "#  NAME      INTERFACE  STATE            PRIMARY  ID\n"
            "1  Ethernet  en0        enabled          IPv4     8C1D2E3F-0001\n"
            "2  Wi-Fi     en1        disabled         -        8C1D2E3F-0002\n"
            "3  Büro VPN  utun3      enabled, hidden  IPv6     8C1D2E3F-0003\n"
            "Primary IPv4: en0\n"
            "Primary IPv6: utun3\n");
}

TEST(ServicesTextTest, NoServicesNoPrimariesAndServicesWithoutInterface) {
  EXPECT_EQ(formatServices(NetworkMetadata{}, "  "),
            "  No network services are configured.\n"
            "  Primary IPv4: none\n"
            "  Primary IPv6: none\n");
  NetworkMetadata m;
  // A service without a known interface never counts as primary, even
  // when no primary is known either.
  m.services = {NetworkService{"S", "S", false, std::nullopt, false}};
  EXPECT_EQ(formatServices(m),
            "#  NAME  INTERFACE  STATE     PRIMARY  ID\n"
            "1  S     -          disabled  -        S\n"
            "Primary IPv4: none\n"
            "Primary IPv6: none\n");
}

TEST(ServicesJsonTest, Schema) {
  const auto json = servicesJson(testing::configuration());
  EXPECT_EQ(keysOf(json), (Strings{"services", "primaryIPv4Interface", "primaryIPv6Interface"}));
  ASSERT_EQ(json["services"].size(), 3u);
  EXPECT_EQ(keysOf(json["services"][0]),
            (Strings{"id", "name", "enabled", "hidden", "bsdName", "primaryIPv4", "primaryIPv6"}));
  EXPECT_EQ(json["services"][0]["primaryIPv4"], true);
  EXPECT_EQ(json["services"][0]["primaryIPv6"], true);
  EXPECT_EQ(json["services"][1]["enabled"], false);
  EXPECT_EQ(json["services"][2]["hidden"], true);
  EXPECT_EQ(json["primaryIPv4Interface"], "en0");

  NetworkMetadata none;
  none.services = {NetworkService{"S", "S", true, std::nullopt, false}};
  const auto empty = servicesJson(none);
  EXPECT_TRUE(empty["services"][0]["bsdName"].is_null());
  EXPECT_TRUE(empty["primaryIPv4Interface"].is_null());
  EXPECT_TRUE(empty["primaryIPv6Interface"].is_null());
}

TEST(ServiceChangesTest, OneLinePerKeyAndOneJsonObjectPerNotification) {
  const Strings keys{"State:/Network/Interface/en0/IPv4", "State:/Network/Global/IPv4"};
  EXPECT_EQ(formatChangedKeys(Date{3600.25}, keys),
            "2001-01-01 01:00:00Z  State:/Network/Interface/en0/IPv4\n"
            "2001-01-01 01:00:00Z  State:/Network/Global/IPv4\n");
  EXPECT_EQ(formatChangedKeys(Date{0}, {}), "");
  const auto json = changedKeysJson(Date{3600.25}, keys);
  EXPECT_EQ(keysOf(json), (Strings{"time", "keys"}));
  EXPECT_EQ(json["time"], "2001-01-01T01:00:00.250Z");
  EXPECT_EQ(json["keys"], nlohmann::ordered_json(keys));
}

}  // namespace
}  // namespace bcn::cli
