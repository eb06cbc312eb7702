// The name index a reading resolves interface names through: which
// position a name gets, and that a refilled index forgets the last reading.
#include "netcore/shim/name_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using bcn::shim::NameIndex;

std::vector<std::string> names(int count, const char* stem) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(stem + std::to_string(i));
  return out;
}

TEST(NameIndex, FirstInsertKeepsItsPositionAndAssignReplacesIt) {
  NameIndex index;
  index.reset(4);
  EXPECT_EQ(index.findOrInsert("eth0", 0), 0u);
  EXPECT_EQ(index.findOrInsert("eth0:1", 1), 1u);
  EXPECT_EQ(index.findOrInsert("eth0", 2), 0u);
  index.assign("eth0", 3);
  EXPECT_EQ(index.find("eth0"), 3u);
  EXPECT_EQ(index.find("eth0:1"), 1u);
  EXPECT_EQ(index.find("eth"), NameIndex::kAbsent);
  EXPECT_EQ(index.find(""), NameIndex::kAbsent);
}

TEST(NameIndex, NamesSharingTheirEndsOrStartsStayApart) {
  // Names of one namespace often differ in a digit or two, at either end
  // and in the middle; lengths from empty to past two words.
  std::vector<std::string> all = names(300, "b4b12345v");
  for (const std::string& n : names(300, "x")) all.push_back(n + "-veth-peer");
  for (int length = 0; length <= 20; ++length) all.push_back(std::string(static_cast<std::size_t>(length), 'a'));
  NameIndex index;
  index.reset(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(index.findOrInsert(all[i], static_cast<std::uint32_t>(i)), i) << all[i];
  }
  for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(index.find(all[i]), i) << all[i];
}

TEST(NameIndex, GrowsPastItsHintAndForgetsAcrossResets) {
  const std::vector<std::string> many = names(500, "veth");
  NameIndex index;
  index.reset(2);  // told too few: the index must make room itself
  for (std::size_t i = 0; i < many.size(); ++i) index.assign(many[i], static_cast<std::uint32_t>(i));
  for (std::size_t i = 0; i < many.size(); ++i) ASSERT_EQ(index.find(many[i]), i);

  // A smaller reading after a larger one reuses the array but none of its names.
  const std::vector<std::string> few = names(3, "wlan");
  index.reset(few.size());
  for (std::size_t i = 0; i < many.size(); ++i) EXPECT_EQ(index.find(many[i]), NameIndex::kAbsent) << many[i];
  for (std::size_t i = 0; i < few.size(); ++i) EXPECT_EQ(index.findOrInsert(few[i], static_cast<std::uint32_t>(i)), i);
  EXPECT_EQ(index.find("wlan2"), 2u);
}

TEST(NameIndex, AnUnresetIndexFindsNothingAndStillInserts) {
  NameIndex index;
  EXPECT_EQ(index.find("lo"), NameIndex::kAbsent);
  EXPECT_EQ(index.findOrInsert("lo", 7), 7u);
  EXPECT_EQ(index.find("lo"), 7u);
}

}  // namespace
