#include "netcore/interfaces/bit_names.h"

#include <gtest/gtest.h>

#include "netcore/interfaces/interface_addresses.h"

namespace {

using Names = std::vector<std::string>;

TEST(BitNames, FormatListsSetBitsInTableOrder) {
  EXPECT_EQ(bcn::BitNames::interfaceFlags().format(0x8863), "8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST>");
  EXPECT_EQ(bcn::BitNames::capabilities().format(0x3), "3<RXCSUM,TXCSUM>");
  EXPECT_EQ(bcn::BitNames::interfaceFlags().format(0), "0<>");
  EXPECT_EQ(bcn::BitNames::nd6Flags().format(0x400), "400<>");
  EXPECT_EQ(bcn::BitNames::nd6Flags().format(0x80000000u), "80000000<>");
  EXPECT_EQ(bcn::BitNames::nd6Flags().format(0x203), "203<PERFORMNUD,ACCEPT_RTADV,DAD>");
}

TEST(BitNames, UnnamedBitsAreLeftOutWithoutPlaceholder) {
  EXPECT_EQ(bcn::BitNames::nd6Flags().names(0x400), Names{});
  EXPECT_EQ(bcn::BitNames::nd6Flags().names(0x401), Names{"PERFORMNUD"});
  EXPECT_EQ(bcn::BitNames::capabilities().names(0xFFFF0000u), Names{});
  EXPECT_EQ(bcn::BitNames::capabilities().names(0x8000), Names{"LRO_NUM_SEG"});
}

TEST(BitNames, TablesHaveTheirFixedSizesAndEnds) {
  const auto& flags = bcn::BitNames::interfaceFlags().bits();
  ASSERT_EQ(flags.size(), 16u);
  EXPECT_EQ(flags.front(), (std::pair<int, std::string>{0, "UP"}));
  EXPECT_EQ(flags.back(), (std::pair<int, std::string>{15, "MULTICAST"}));
  EXPECT_EQ(bcn::BitNames::capabilities().bits().size(), 16u);
  EXPECT_EQ(bcn::BitNames::capabilities().bits()[13].second, "PARTIAL_CSUM");
  EXPECT_EQ(bcn::BitNames::nd6Flags().bits().size(), 10u);
  EXPECT_EQ(bcn::BitNames::nd6Flags().bits()[9].second, "DAD");
}

TEST(BitNames, PositionsOutsideTheWordNameNothing) {
  const bcn::BitNames custom({{31, "TOP"}, {32, "BEYOND"}, {-1, "NEGATIVE"}, {0, "LOW"}});
  EXPECT_EQ(custom.names(0xFFFFFFFFu), (Names{"TOP", "LOW"}));
  EXPECT_EQ(custom.format(0x80000001u), "80000001<TOP,LOW>");
}

TEST(IPv6FlagNames, FollowTheDisplayOrderNotTheBitOrder) {
  bcn::IPv6Address a;
  a.flags = 0x292;
  EXPECT_EQ(a.flagNames(), (Names{"tentative", "optimistic", "deprecated", "temporary"}));
  a.flags = 0x1000 | 0x400 | 0x1 | 0x20 | 0x800;  // 0x20 and 0x800 are unlisted
  EXPECT_EQ(a.flagNames(), (Names{"anycast", "secured", "clat46"}));
  a.flags = 0;
  EXPECT_TRUE(a.flagNames().empty());
}

}  // namespace
