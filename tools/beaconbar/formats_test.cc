// Golden outputs and JSON schemas of the smaller formats: tunnel owners,
// public addresses, watch rows and the stored-history summary.
#include <gtest/gtest.h>

#include "tools/beaconbar/history_report.h"
#include "tools/beaconbar/public_ip_format.h"
#include "tools/beaconbar/testing/json_keys.h"
#include "tools/beaconbar/testing/model_fixtures.h"
#include "tools/beaconbar/tunnel_format.h"
#include "tools/beaconbar/watch_format.h"

namespace bcn::cli {
namespace {

using testing::keysOf;
using Strings = std::vector<std::string>;

TEST(TunnelFormatTest, TableAndUnreadableOwners) {
  const TunnelOwnerMap owners{{"tun0", TunnelOwner{4242, "", ""}},
                              {"wg0", TunnelOwner{17, "wireguard-go", "/usr/bin/wireguard-go"}}};
  EXPECT_EQ(formatTunnelOwners(owners),
            "INTERFACE  PID   PROGRAM       PATH\n"
            "tun0       4242  ?             ?\n"
            "wg0        17    wireguard-go  /usr/bin/wireguard-go\n");
  EXPECT_EQ(formatTunnelOwners({}), "No tunnel interfaces are open.\n");
  const auto json = tunnelOwnersJson(owners);
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(keysOf(json[1]), (Strings{"interface", "pid", "name", "path"}));
  EXPECT_EQ(json[0]["interface"], "tun0");
  EXPECT_EQ(json[0]["pid"], 4242);
  EXPECT_EQ(json[0]["path"], "");
}

TEST(PublicAddressFormatTest, BothSidesOneSideAndNone) {
  PublicAddressReport r{"ifconfig.co", "https://ifconfig.co/ip", {"203.0.113.7", "2001:db8::7", std::nullopt}};
  EXPECT_EQ(formatPublicAddress(r), "IPv4  203.0.113.7\nIPv6  2001:db8::7\n");
  r.result.ipv4.reset();
  EXPECT_EQ(formatPublicAddress(r, "  "), "  IPv4  unavailable\n  IPv6  2001:db8::7\n");
  r.result = {std::nullopt, std::nullopt, "The server answered HTTP 503"};
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(formatPublicAddress(r), "unavailable (The server answered HTTP 503)\n");
  const auto json = publicAddressJson(r);
  EXPECT_EQ(keysOf(json), (Strings{"source", "url", "ipv4", "ipv6", "error"}));
  EXPECT_EQ(json["error"], "The server answered HTTP 503");
  EXPECT_TRUE(json["ipv4"].is_null());
}

WatchRow watchRow() {
  WatchRow row;
  row.name = "en0";
  row.current = RateSample{Date{100}, 1, 1239, 312};
  row.lastMinute.combine({10, 5000, 1000, 0, 1239, 0, 312});
  return row;
}

TEST(WatchFormatTest, FixedColumnsForHeaderAndRows) {
  WatchRow gone;
  gone.name = "wlan-external";
  gone.present = false;
  WatchRow first;
  first.name = "lo";
  const std::vector<WatchRow> rows{watchRow(), first, gone};
  const std::size_t width = watchNameWidth(rows);
  EXPECT_EQ(width, 13u);
  EXPECT_EQ(formatWatchHeader(width),
            "INTERFACE      IN     OUT    1M IN avg/min/max   1M OUT avg/min/max  1H IN avg/min/max   "
            "1H OUT avg/min/max");
  EXPECT_EQ(formatWatchRow(rows[0], width),
            "en0            1.2K   312    500/0/1.2K          100/0/312           -                   -");
  EXPECT_EQ(formatWatchRow(rows[1], width),
            "lo             -      -      -                   -                   -                   -");
  EXPECT_EQ(formatWatchRow(rows[2], width), "wlan-external  (not present)");
}

TEST(WatchFormatTest, OneJsonObjectPerReading) {
  const auto json = watchTickJson(Date{0}, {watchRow()});
  EXPECT_EQ(keysOf(json), (Strings{"time", "interfaces"}));
  EXPECT_EQ(json["time"], "2001-01-01T00:00:00.000Z");
  EXPECT_EQ(keysOf(json["interfaces"][0]), (Strings{"name", "present", "rate", "lastMinute", "lastHour"}));
  EXPECT_EQ(json["interfaces"][0]["lastMinute"]["averageIn"], 500.0);
  EXPECT_TRUE(json["interfaces"][0]["lastHour"].is_null());
}

TEST(HistoryReportTest, PeriodsAndRecentSamples) {
  const double now = 7200;
  HistoryMap histories{{"en0", testing::historyWithSample(now - 30)}, {"lo", RateHistory(RateHistory::Retention{})}};
  const auto summaries = summarizeHistory(histories, Date{now}, 5);
  ASSERT_EQ(summaries.size(), 2u);
  EXPECT_EQ(summaries[0].lastHour.bytesIn, 5000u);
  EXPECT_EQ(summaries[0].recentSamples.size(), 1u);
  EXPECT_EQ(formatHistory("/tmp/h.plist", summaries),
            "Traffic history in /tmp/h.plist\n"
            "\n"
            "en0\n"
            "  last hour     in 4.88 KiB  avg 500 B/s  max 500 B/s  out 1000 B  avg 100 B/s  max 100 B/s\n"
            "  last day      in 4.88 KiB  avg 500 B/s  max 500 B/s  out 1000 B  avg 100 B/s  max 100 B/s\n"
            "  last 30 days  in 4.88 KiB  avg 500 B/s  max 500 B/s  out 1000 B  avg 100 B/s  max 100 B/s\n"
            "  recent samples\n"
            "    2001-01-01 01:59:30Z  10.0 s  in 500 B/s  out 100 B/s\n"
            "\n"
            "lo\n"
            "  last hour     no traffic recorded\n"
            "  last day      no traffic recorded\n"
            "  last 30 days  no traffic recorded\n");
}

TEST(HistoryReportTest, JsonSchema) {
  const auto summaries = summarizeHistory({{"en0", testing::historyWithSample(100)}}, Date{200}, 5);
  const auto json = historyJson("/tmp/h.plist", summaries);
  EXPECT_EQ(keysOf(json), (Strings{"file", "interfaces"}));
  EXPECT_EQ(keysOf(json["interfaces"][0]), (Strings{"name", "lastHour", "lastDay", "last30Days", "recentSamples"}));
  EXPECT_EQ(keysOf(json["interfaces"][0]["recentSamples"][0]),
            (Strings{"end", "seconds", "bytesIn", "bytesOut", "rateIn", "rateOut"}));
  EXPECT_EQ(json["interfaces"][0]["recentSamples"][0]["end"], "2001-01-01T00:01:40.000Z");
  EXPECT_EQ(json["interfaces"][0]["last30Days"]["bytesOut"], 1000u);
}

}  // namespace
}  // namespace bcn::cli
