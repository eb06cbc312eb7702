#include "netcore/shim/ethtool_media.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using bcn::shim::Duplex;
using bcn::shim::LinkSettings;
using bcn::shim::Port;

std::string words(std::int32_t word) {
  char text[128] = {};
  bcn_media_word_string(word, text, sizeof text);
  return text;
}

TEST(EthernetMedia, NegotiatedGigabitIsAutoselectActive1000baseT) {
  const auto media = bcn::shim::ethernetMedia({1000, Duplex::kFull, Port::kTwistedPair, true}, true);
  ASSERT_TRUE(media.has_value());
  EXPECT_EQ(words(media->current), "autoselect");
  EXPECT_EQ(words(media->active), "1000baseT <full-duplex>");
  EXPECT_EQ(media->active, 0x20 | 0x10 | 0x100000);
  EXPECT_TRUE(bcn_media_status_valid(media->status));
  EXPECT_TRUE(bcn_media_status_active(media->status));
}

TEST(EthernetMedia, NegotiatingWithoutLinkIsAutoselectInactive) {
  // Drivers report their last or highest speed while the cable is out.
  const auto media = bcn::shim::ethernetMedia({1000, Duplex::kUnknown, Port::kTwistedPair, true}, false);
  ASSERT_TRUE(media.has_value());
  EXPECT_EQ(media->current, 0x20);
  EXPECT_EQ(media->active, 0x20);
  EXPECT_TRUE(bcn_media_status_valid(media->status));
  EXPECT_FALSE(bcn_media_status_active(media->status));
}

TEST(EthernetMedia, FixedSpeedIsBothConfiguredAndActive) {
  // What veth reports: 10 Gb/s full duplex, twisted pair, no negotiation.
  const auto media = bcn::shim::ethernetMedia({10000, Duplex::kFull, Port::kTwistedPair, false}, true);
  ASSERT_TRUE(media.has_value());
  EXPECT_EQ(media->current, media->active);
  EXPECT_EQ(words(media->current), "10Gbase-T <full-duplex>");
  const auto half = bcn::shim::ethernetMedia({100, Duplex::kHalf, Port::kTwistedPair, false}, std::nullopt);
  ASSERT_TRUE(half.has_value());
  EXPECT_EQ(words(half->current), "100baseTX <half-duplex>");
  EXPECT_FALSE(bcn_media_status_valid(half->status));  // carrier unknown
}

TEST(EthernetMedia, NoSpeedAndNoNegotiationMeansNoMedia) {
  EXPECT_FALSE(bcn::shim::ethernetMedia({0, Duplex::kUnknown, Port::kOther, false}, false).has_value());
}

TEST(EthernetSubtype, SpeedAndPortPickTheWord) {
  EXPECT_EQ(bcn::shim::ethernetSubtype(2500, Port::kTwistedPair), 0x16u);
  EXPECT_EQ(bcn::shim::ethernetSubtype(5000, Port::kTwistedPair), 0x17u);
  EXPECT_EQ(bcn::shim::ethernetSubtype(10000, Port::kFibre), 0x12u);
  EXPECT_EQ(bcn::shim::ethernetSubtype(10000, Port::kDirectAttach), 0x10001u);
  EXPECT_EQ(bcn::shim::ethernetSubtype(25000, Port::kFibre), 0x10017u);
  EXPECT_EQ(bcn::shim::ethernetSubtype(40000, Port::kDirectAttach), 0x10005u);
  EXPECT_EQ(bcn::shim::ethernetSubtype(100000, Port::kOther), 0x10011u);
  EXPECT_EQ(bcn::shim::ethernetSubtype(10, Port::kBnc), 0x4u);
  EXPECT_EQ(bcn::shim::ethernetSubtype(10, Port::kAui), 0x5u);
  EXPECT_EQ(bcn::shim::ethernetSubtype(12345, Port::kTwistedPair), 0x1Fu);  // "Other"
  EXPECT_FALSE(bcn::shim::ethernetSubtype(0, Port::kTwistedPair).has_value());
  // Every word the mapping can produce has a name.
  for (std::uint32_t speed : {10u, 100u, 1000u, 2500u, 5000u, 10000u, 25000u, 40000u, 50000u, 100000u, 200000u,
                              400000u, 7u}) {
    for (Port port : {Port::kOther, Port::kTwistedPair, Port::kAui, Port::kBnc, Port::kFibre, Port::kDirectAttach}) {
      const auto subtype = bcn::shim::ethernetSubtype(speed, port);
      ASSERT_TRUE(subtype.has_value());
      EXPECT_NE(words(static_cast<std::int32_t>(0x20 | *subtype)), "<unknown subtype>") << speed;
    }
  }
}

TEST(WirelessMedia, IsIeee80211Autoselect) {
  const bcn_media_t up = bcn::shim::wirelessMedia(true);
  EXPECT_EQ(up.current, 0x80);
  EXPECT_EQ(up.active, 0x80);
  EXPECT_EQ(words(up.current), "autoselect");
  EXPECT_TRUE(bcn_media_status_active(up.status));
  EXPECT_FALSE(bcn_media_status_valid(bcn::shim::wirelessMedia(std::nullopt).status));
}

}  // namespace
