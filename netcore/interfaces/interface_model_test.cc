#include <gtest/gtest.h>

#include <unordered_set>

#include "netcore/interfaces/interface_snapshot.h"

namespace {

using bcn::FunctionalType;
using bcn::InterfaceSnapshot;
using bcn::MediaInfo;
using bcn::MediaStatus;

InterfaceSnapshot withFlags(std::uint32_t flags, std::optional<MediaStatus> media = std::nullopt) {
  InterfaceSnapshot s;
  s.name = "en0";
  s.flags = flags;
  if (media) s.media = MediaInfo{"autoselect", std::nullopt, *media};
  return s;
}

TEST(LinkActive, NeedsUpAndRunningAndMediaNotKnownDown) {
  EXPECT_FALSE(withFlags(0x1, MediaStatus::active).isLinkActive());   // up, not running
  EXPECT_FALSE(withFlags(0x40, MediaStatus::active).isLinkActive());  // running, not up
  EXPECT_TRUE(withFlags(0x41).isLinkActive());                        // no media reported
  EXPECT_TRUE(withFlags(0x41, MediaStatus::unknown).isLinkActive());
  EXPECT_TRUE(withFlags(0x41, MediaStatus::active).isLinkActive());
  EXPECT_FALSE(withFlags(0x41, MediaStatus::inactive).isLinkActive());
}

TEST(SnapshotFlags, NamedTestsAndHasFlag) {
  const InterfaceSnapshot s = withFlags(0x8059);
  EXPECT_TRUE(s.isUp());
  EXPECT_TRUE(s.isLoopback());
  EXPECT_TRUE(s.isPointToPoint());
  EXPECT_TRUE(s.isRunning());
  EXPECT_TRUE(s.hasFlag(0x8000));
  EXPECT_FALSE(withFlags(0x7FFF).hasFlag(0x8000));
  EXPECT_TRUE(withFlags(0x80000000u).hasFlag(-2147483647 - 1));  // a negative mask by its bit pattern
  EXPECT_FALSE(withFlags(0x8043).hasFlag(0));
  EXPECT_EQ(s.id(), "en0");
}

TEST(LinkAddressText, TwoLowerCaseDigitsPerByte) {
  EXPECT_EQ((bcn::LinkAddress{{0x00, 0x1C, 0x42, 0xAB, 0xCD, 0xEF}, 6}.description()), "00:1c:42:ab:cd:ef");
  EXPECT_EQ((bcn::LinkAddress{{}, 6}.description()), "");
  EXPECT_EQ((bcn::LinkAddress{{0x0A}, 1}.description()), "0a");
}

TEST(MediaInfoText, ShowsTheActiveWordOnlyWhenItDiffers) {
  EXPECT_EQ((MediaInfo{"autoselect", "1000baseT <full-duplex>", MediaStatus::active}.description()),
            "autoselect (1000baseT <full-duplex>)");
  EXPECT_EQ((MediaInfo{"10Gbase-T <full-duplex>", std::nullopt, MediaStatus::active}.description()),
            "10Gbase-T <full-duplex>");
}

TEST(FunctionalTypes, RawValuesZeroToEightOnly) {
  EXPECT_EQ(bcn::functionalTypeFromRaw(0), FunctionalType::unknown);
  EXPECT_EQ(bcn::functionalTypeFromRaw(3), FunctionalType::wifiInfra);
  EXPECT_EQ(bcn::functionalTypeFromRaw(8), FunctionalType::management);
  EXPECT_FALSE(bcn::functionalTypeFromRaw(9).has_value());
  EXPECT_FALSE(bcn::functionalTypeFromRaw(0xFFFFFFFFu).has_value());
  EXPECT_EQ(bcn::rawValue(FunctionalType::cellular), 5u);
}

TEST(SnapshotValues, EqualityAndHashCoverEveryField) {
  InterfaceSnapshot a = withFlags(0x8043, MediaStatus::active);
  a.ipv4.push_back({"10.0.0.1", "255.0.0.0", 8, "10.255.255.255", std::nullopt});
  a.ipv6.push_back({"fe80::1", 64, 4, 0x40});
  a.capabilities = 3;
  InterfaceSnapshot b = a;
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::hash<InterfaceSnapshot>{}(a), std::hash<InterfaceSnapshot>{}(b));

  // Each of these is a different reading of the same interface.
  std::vector<InterfaceSnapshot> variants(8, a);
  variants[0].counters.dropsIn = 1;
  variants[1].ipv6[0].flags = 0;
  variants[2].capabilities.reset();
  variants[3].nd6Flags = 0;
  variants[4].media->active = "10baseT/UTP";
  variants[5].ipv4[0].broadcast.reset();
  variants[6].linkAddress = bcn::LinkAddress{{1}, 6};
  variants[7].functionalType = FunctionalType::wired;
  std::unordered_set<InterfaceSnapshot> distinct{a};
  for (const InterfaceSnapshot& v : variants) {
    EXPECT_NE(v, a);
    EXPECT_EQ(v.id(), a.id());
    distinct.insert(v);
  }
  EXPECT_EQ(distinct.size(), 9u);
}

TEST(SnapshotValues, CountersCompareFieldByField) {
  bcn::InterfaceCounters x, y;
  y.multicastOut = 1;
  EXPECT_NE(x, y);
  EXPECT_NE(std::hash<bcn::InterfaceCounters>{}(x), std::hash<bcn::InterfaceCounters>{}(y));
}

}  // namespace
