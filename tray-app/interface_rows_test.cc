#include "tray-app/interface_rows.h"

#include <gtest/gtest.h>

#include <limits>

#include "tools/beaconbar/testing/model_fixtures.h"

namespace bcn::tray {
namespace {

namespace fixtures = bcn::cli::testing;

InterfaceFingerprint pin(const std::string& key, const std::string& name, std::optional<std::string> address = {},
                         bool permanent = false) {
  InterfaceFingerprint fingerprint;
  fingerprint.key = key;
  fingerprint.name = name;
  fingerprint.address = std::move(address);
  fingerprint.permanentAddress = permanent;
  return fingerprint;
}

LiveInterface live(InterfaceSnapshot snapshot, const std::string& key, std::optional<std::string> address = {},
                   bool permanent = false) {
  InterfaceFingerprint fingerprint = pin(key, snapshot.name, std::move(address), permanent);
  return {std::move(snapshot), std::move(fingerprint)};
}

InterfaceSnapshot renamed(InterfaceSnapshot snapshot, const std::string& name) {
  snapshot.name = name;
  return snapshot;
}

RateSample sample(std::uint64_t in, std::uint64_t out, double seconds) {
  RateSample s;
  s.end = Date{1000};
  s.duration = seconds;
  s.bytesIn = in;
  s.bytesOut = out;
  return s;
}

std::vector<std::string> names(const std::vector<InterfaceRow>& rows) {
  std::vector<std::string> result;
  for (const InterfaceRow& row : rows) result.push_back(row.name + (row.present ? "" : "?"));
  return result;
}

TEST(InterfaceRowsTest, PinsFirstInPinOrderThenTheRestWithoutLoopback) {
  const std::vector<LiveInterface> reading{
      live(fixtures::loopback(), "lo"),
      live(fixtures::ethernet(), "00:1c:42:ab:cd:ef", "00:1c:42:ab:cd:ef", true),
      live(fixtures::tunnel(), "tun:utun3"),
      live(fixtures::downInterface(), "en5"),
  };
  // Unpinned: reading order, loopback left out.
  EXPECT_EQ(names(interfaceRows(reading, {}, {})), (std::vector<std::string>{"en0", "utun3", "en5"}));

  // The tunnel pinned before Ethernet, and a pinned loopback shows.
  const std::vector<InterfaceFingerprint> pins{pin("tun:utun3", "utun3"),
                                               pin("00:1c:42:ab:cd:ef", "en0", std::nullopt, true), pin("lo", "lo")};
  const auto rows = interfaceRows(reading, pins, {});
  EXPECT_EQ(names(rows), (std::vector<std::string>{"utun3", "en0", "lo", "en5"}));
  EXPECT_TRUE(rows[0].pinned && rows[1].pinned && rows[2].pinned);
  EXPECT_FALSE(rows[3].pinned);
  EXPECT_EQ(rows[1].state, "active");
  EXPECT_EQ(rows[3].state, "down");
  EXPECT_EQ(rows[1].addresses, (std::vector<std::string>{"192.168.1.20/24", "fe80::21c:42ff:feab:cdef%en0/64"}));
}

TEST(InterfaceRowsTest, APinFollowsARenameAndOneWhoseInterfaceIsGoneStaysListed) {
  // The USB adapter pinned as "usb0" came back as "enx0a"; its address
  // (not firm) still identifies it. The pinned Wi-Fi is gone.
  const std::vector<LiveInterface> reading{
      live(renamed(fixtures::ethernet(), "enx0a"), "enx0a", "0a:00:00:00:00:01"),
      live(fixtures::downInterface(), "en5"),
  };
  const std::vector<InterfaceFingerprint> pins{pin("11:22:33:44:55:66", "wlan0", "11:22:33:44:55:66", true),
                                               pin("usb0", "usb0", "0a:00:00:00:00:01")};
  const auto rows = interfaceRows(reading, pins, {});
  EXPECT_EQ(names(rows), (std::vector<std::string>{"wlan0?", "enx0a", "en5"}));
  EXPECT_EQ(rows[0].state, "not present");
  EXPECT_TRUE(rows[0].pinned);
  EXPECT_EQ(rows[0].label(RateUnit::bytes), "wlan0  not present");
  EXPECT_TRUE(rows[1].pinned && rows[1].present);

  // The icon skips the missing pin for the first one present.
  const InterfaceRow* icon = iconRow(rows, std::string("en5"));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->name, "enx0a");
}

TEST(InterfaceRowsTest, TheIconFallsBackToThePrimaryInterface) {
  const std::vector<LiveInterface> reading{live(fixtures::downInterface(), "en5"), live(fixtures::ethernet(), "en0")};
  const std::vector<InterfaceFingerprint> gone{pin("wg0", "wg0")};
  const auto rows = interfaceRows(reading, gone, {});
  const InterfaceRow* icon = iconRow(rows, std::string("en0"));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->name, "en0");
  EXPECT_EQ(iconRow(rows, std::nullopt), nullptr);
  // A primary interface that is not listed (or only as a missing pin's
  // saved name) draws nothing.
  EXPECT_EQ(iconRow(rows, std::string("wg0")), nullptr);
}

TEST(InterfaceRowsTest, RatesInBytesOrBitsPerSecond) {
  const std::vector<LiveInterface> reading{live(fixtures::tunnel(), "tun:utun3")};
  // 2.5 MiB in over 2 s, 1000 bytes out.
  const std::map<std::string, RateSample> rates{{"utun3", sample(2'621'440, 1000, 2)}};
  const auto rows = interfaceRows(reading, {}, rates);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].label(RateUnit::bytes), "utun3  active  10.8.0.2 --> 10.8.0.1  fe80::1%7  ↓ 1.25 MiB/s  ↑ 500 B/s");
  EXPECT_EQ(rows[0].label(RateUnit::bits),
            "utun3  active  10.8.0.2 --> 10.8.0.1  fe80::1%7  ↓ 10.5 Mbit/s  ↑ 4 kbit/s");
  // Before a second reading there is no rate to show.
  EXPECT_EQ(interfaceRows(reading, {}, {})[0].label(RateUnit::bits), "utun3  active  10.8.0.2 --> 10.8.0.1  fe80::1%7");

  EXPECT_EQ(formatRate(0, RateUnit::bits), "0 bit/s");
  EXPECT_EQ(formatRate(124.9, RateUnit::bits), "999 bit/s");
  EXPECT_EQ(formatRate(125, RateUnit::bits), "1 kbit/s");
  EXPECT_EQ(formatRate(124'990, RateUnit::bits), "1 Mbit/s");
  EXPECT_EQ(formatRate(-1, RateUnit::bits), "-");
  EXPECT_EQ(formatRate(std::numeric_limits<double>::quiet_NaN(), RateUnit::bytes), "-");
}

}  // namespace
}  // namespace bcn::tray
