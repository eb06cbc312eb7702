#include "tools/beaconbar/interface_json.h"

#include <gtest/gtest.h>

#include <limits>

#include "tools/beaconbar/testing/json_keys.h"
#include "tools/beaconbar/testing/model_fixtures.h"

namespace bcn::cli {
namespace {

using testing::keysOf;
using Strings = std::vector<std::string>;

TEST(InterfaceJsonTest, EveryInterfaceCarriesTheDocumentedKeys) {
  for (const InterfaceSnapshot& s :
       {testing::ethernet(), testing::loopback(), testing::tunnel(), testing::downInterface(), InterfaceSnapshot{}}) {
    const auto json = interfaceJson(s);
    EXPECT_EQ(keysOf(json), (Strings{"name", "index", "state", "flags", "mtu", "ifType", "functionalType", "baudrate",
                                     "linkAddress", "ipv4", "ipv6", "media", "capabilities", "nd6Flags", "counters"}))
        << s.name;
    EXPECT_EQ(keysOf(json["counters"]), (Strings{"bytesIn", "bytesOut", "packetsIn", "packetsOut", "errorsIn",
                                                 "errorsOut", "multicastIn", "multicastOut", "collisions", "dropsIn"}));
    EXPECT_EQ(keysOf(json["flags"]), (Strings{"value", "names"}));
  }
}

TEST(InterfaceJsonTest, ValuesOfAFullInterface) {
  const auto json = interfaceJson(testing::ethernet());
  EXPECT_EQ(json["state"], "active");
  EXPECT_EQ(json["flags"]["value"], 0x8863);
  EXPECT_EQ(json["flags"]["names"], (Strings{"UP", "BROADCAST", "SMART", "RUNNING", "SIMPLEX", "MULTICAST"}));
  EXPECT_EQ(json["functionalType"], "wired");
  EXPECT_EQ(json["linkAddress"], "00:1c:42:ab:cd:ef");
  EXPECT_EQ(keysOf(json["ipv4"][0]), (Strings{"address", "netmask", "prefixLength", "broadcast", "destination"}));
  EXPECT_EQ(json["ipv4"][0]["prefixLength"], 24);
  EXPECT_TRUE(json["ipv4"][0]["destination"].is_null());
  EXPECT_EQ(keysOf(json["ipv6"][1]), (Strings{"address", "prefixLength", "scopeID", "flags"}));
  EXPECT_EQ(json["ipv6"][1]["flags"]["names"], (Strings{"autoconf", "secured"}));
  EXPECT_EQ(keysOf(json["media"]), (Strings{"current", "active", "status", "description"}));
  EXPECT_EQ(json["media"]["description"], "autoselect (1000baseT <full-duplex>)");
  EXPECT_EQ(json["capabilities"]["names"], (Strings{"RXCSUM", "TXCSUM"}));
  EXPECT_EQ(json["nd6Flags"]["names"], (Strings{"PERFORMNUD", "DAD"}));
  EXPECT_EQ(json["counters"]["bytesIn"], 123456789u);
}

TEST(InterfaceJsonTest, AbsentValuesAreNullNotMissing) {
  const auto json = interfaceJson(InterfaceSnapshot{});
  EXPECT_TRUE(json["linkAddress"].is_null());
  EXPECT_TRUE(json["media"].is_null());
  EXPECT_TRUE(json["capabilities"].is_null());
  EXPECT_TRUE(json["nd6Flags"].is_null());
  EXPECT_EQ(json["state"], "down");
  EXPECT_EQ(json["functionalType"], "unknown");
  EXPECT_TRUE(json["ipv4"].is_array() && json["ipv4"].empty());
}

TEST(InterfaceJsonTest, RatesAndAggregatesWithoutJsonlessNumbers) {
  EXPECT_TRUE(rateJson(std::nullopt).is_null());
  const auto rate = rateJson(RateSample{Date{0}, 2, 1000, 10});
  EXPECT_EQ(keysOf(rate), (Strings{"in", "out", "seconds"}));
  EXPECT_EQ(rate["in"], 500.0);
  // A zero-length sample has an infinite rate, which JSON cannot carry.
  EXPECT_TRUE(rateJson(RateSample{Date{0}, 0, 1000, 0})["in"].is_null());

  // An empty aggregate has infinite minimums: the whole value is null.
  EXPECT_TRUE(aggregateJson(RateAggregate{}).is_null());
  RateAggregate a;
  a.combine({10, 5000, 1000, 400, 600, 50, 150});
  const auto json = aggregateJson(a);
  EXPECT_EQ(keysOf(json), (Strings{"seconds", "bytesIn", "bytesOut", "averageIn", "averageOut", "minIn", "maxIn",
                                   "minOut", "maxOut"}));
  EXPECT_EQ(json["averageIn"], 500.0);
  EXPECT_EQ(json["maxOut"], 150.0);
  EXPECT_TRUE(jsonNumber(std::numeric_limits<double>::quiet_NaN()).is_null());
}

}  // namespace
}  // namespace bcn::cli
