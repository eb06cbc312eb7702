#include <gtest/gtest.h>

#include <set>
#include <string>

#include "netcore/shim/bcn_interfaces.h"

namespace {

std::string text(std::int32_t word, std::size_t size = 128) {
  std::string buffer(size, 'x');
  bcn_media_word_string(word, buffer.data(), size);
  return std::string(buffer.c_str());
}

TEST(MediaWordString, NamesSubtypeAndOptionsButNeverTheType) {
  EXPECT_EQ(text(0x500030), "1000baseT <full-duplex,flow-control>");
  EXPECT_EQ(text(0x20), "autoselect");
  EXPECT_EQ(text(0x80), "autoselect");
  EXPECT_EQ(text(0x3F), "Other");
  EXPECT_EQ(text(0x21), "manual");
  EXPECT_EQ(text(0x62), "none");
}

TEST(MediaWordString, UnknownTypesAndSubtypes) {
  EXPECT_EQ(text(0x1F), "<unknown type>");
  EXPECT_EQ(text(0x0), "<unknown type>");  // type 0 is the table's terminator, never a match
  EXPECT_EQ(text(0xA0), "<unknown type>");
  EXPECT_EQ(text(0xE0), "<unknown type>");
  EXPECT_EQ(text(0x9F), "<unknown subtype>");
  EXPECT_EQ(text(0x20 | 0xE), "1000baseLX");
  EXPECT_EQ(text(0x20 | 0x1000E), "<unknown subtype>");  // 0x1000E is not an Ethernet word
}

TEST(MediaWordString, SharedOptionsComeBeforeTypeOptions) {
  EXPECT_EQ(text(0x100444), "DB9/16Mbit <full-duplex,SourceRouting>");
  EXPECT_EQ(text(0x60 | 0x3 | 0x100 | 0x200000), "Single-mode <half-duplex,Dual-attach>");
  const std::string flags = text(0x20 | 0x10 | 0x1000000 | 0x8000000);
  EXPECT_EQ(flags, "1000baseT <flag0,hw-loopback>");
}

TEST(MediaWordString, OptionBitsOutsideTheTypesTablesAreNotShown) {
  EXPECT_EQ(text(0x80 | 0x7 | 0x100), "DS11");
  EXPECT_EQ(text(0x20 | 0x10 | 0x100), "1000baseT");  // Ethernet's own option table is empty
}

TEST(MediaWordString, Ieee80211SubtypesAreNotInWordOrder) {
  EXPECT_EQ(text(0x80 | 0x8), "DS1");
  EXPECT_EQ(text(0x80 | 0x5), "DS2");
  EXPECT_EQ(text(0x80 | 0x9), "DS22");
  EXPECT_EQ(text(0x80 | 0x3 | 0x100000), "FH1 <full-duplex>");
}

TEST(MediaWordString, EveryEthernetSubtypeHasItsExactText) {
  // Walk the whole subtype space: 114 Ethernet words plus the 3 shared
  // ones are named, each with a distinct text.
  std::set<std::string> names;
  int named = 0;
  for (std::uint32_t high = 0; high <= 0xF; ++high) {
    for (std::uint32_t low = 0; low <= 0x1F; ++low) {
      const std::string t = text(static_cast<std::int32_t>(0x20 | low | (high << 16)));
      if (t == "<unknown subtype>") continue;
      ++named;
      names.insert(t);
    }
  }
  EXPECT_EQ(named, 117);
  EXPECT_EQ(names.size(), 117u);
  // Spot checks on the mixed capitalisation, at both ends of each block.
  EXPECT_EQ(text(0x20 | 0x3), "10baseT/UTP");
  EXPECT_EQ(text(0x20 | 0x1000C), "40Gbase-LR4");
  EXPECT_EQ(text(0x20 | 0x1000D), "40GBase-KR4");
  EXPECT_EQ(text(0x20 | 0x10014), "100BaseT");
  EXPECT_EQ(text(0x20 | 0x1001F), "2500Base-X");
  EXPECT_EQ(text(0x20 | 0x20000), "5000Base-KR");
  EXPECT_EQ(text(0x20 | 0x2001F), "100GBase-CP2");
  EXPECT_EQ(text(0x20 | 0x30000), "100GBase-SR2");
  EXPECT_EQ(text(0x20 | 0x30015), "400G-AUI8");
  EXPECT_EQ(text(0x20 | 0x30016), "<unknown subtype>");
  EXPECT_EQ(text(0x20 | 0x1000E), "<unknown subtype>");
}

TEST(MediaWordString, TruncatesToTheBufferAndAlwaysTerminates) {
  EXPECT_EQ(text(0x30, 8), "1000bas");
  EXPECT_EQ(text(0x500030, 14), "1000baseT <fu");
  EXPECT_EQ(text(0x30, 1), "");
  EXPECT_EQ(text(0x1F, 4), "<un");
}

TEST(MediaWordString, SizeZeroTouchesNothing) {
  char buffer[4] = {'a', 'b', 'c', 'd'};
  bcn_media_word_string(0x30, buffer, 0);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  bcn_media_word_string(0x30, nullptr, 16);  // no buffer, no crash
}

TEST(MediaWordString, HighBitOfTheSignedWordIsJustAnotherBit) {
  EXPECT_EQ(text(static_cast<std::int32_t>(0x80000030u)), "1000baseT");
}

TEST(MediaStatus, ValidAndActiveBits) {
  EXPECT_FALSE(bcn_media_status_valid(0));
  EXPECT_TRUE(bcn_media_status_valid(1));
  EXPECT_FALSE(bcn_media_status_active(1));
  EXPECT_TRUE(bcn_media_status_active(3));
  EXPECT_TRUE(bcn_media_status_active(2));  // the two bits are read separately
}

}  // namespace
