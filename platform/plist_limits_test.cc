#include "platform/plist_limits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/plist.h"
#include "platform/plist_budget.h"
#include "platform/testing/plist_bombs.h"

namespace bcn {
namespace {

// Builds binary plists object by object, including shapes no encoder would
// write (cycles, shared subtrees, dangling references), with 1-byte object
// references and 4-byte offsets.
class BinaryBuilder {
 public:
  // Returns the new object's index.
  std::size_t array(const std::vector<std::size_t>& refs) {
    std::vector<std::uint8_t> object;
    if (refs.size() < 15) {
      object.push_back(static_cast<std::uint8_t>(0xA0 | refs.size()));
    } else {
      object = {0xAF, 0x11, static_cast<std::uint8_t>(refs.size() >> 8),
                static_cast<std::uint8_t>(refs.size())};
    }
    for (std::size_t r : refs) object.push_back(static_cast<std::uint8_t>(r));
    objects_.push_back(object);
    return objects_.size() - 1;
  }
  std::size_t integer(std::uint8_t value) {
    objects_.push_back({0x10, value});
    return objects_.size() - 1;
  }
  std::size_t raw(std::vector<std::uint8_t> object) {
    objects_.push_back(std::move(object));
    return objects_.size() - 1;
  }

  std::vector<std::uint8_t> build(std::size_t top, std::uint64_t claimedObjects = 0) const {
    std::vector<std::uint8_t> out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint32_t> offsets;
    for (const auto& object : objects_) {
      offsets.push_back(static_cast<std::uint32_t>(out.size()));
      out.insert(out.end(), object.begin(), object.end());
    }
    const std::uint64_t tableOffset = out.size();
    for (std::uint32_t offset : offsets) {
      for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(offset >> shift));
    }
    std::vector<std::uint8_t> trailer(32, 0);
    trailer[6] = 4;
    trailer[7] = 1;
    auto put = [&](std::size_t at, std::uint64_t v) {
      for (int i = 7; i >= 0; --i, v >>= 8) trailer[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
    };
    put(8, claimedObjects != 0 ? claimedObjects : objects_.size());
    put(16, top);
    put(24, tableOffset);
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
  }

 private:
  std::vector<std::vector<std::uint8_t>> objects_;
};

std::optional<std::string> check(const std::vector<std::uint8_t>& bytes, std::size_t depth, std::size_t nodes,
                                 std::size_t expandedBytes = SIZE_MAX) {
  return plist_limits::checkBinary(bytes, {depth, nodes, expandedBytes});
}

TEST(BinaryLimits, WellFormedFilesPass) {
  BinaryBuilder b;
  const std::size_t one = b.integer(1);
  const std::size_t top = b.array({one, one});
  const auto bytes = b.build(top);
  EXPECT_EQ(check(bytes, 8, 100), std::nullopt);
  auto decoded = decodePlist(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, PlistValue(PlistArray{1, 1}));
}

TEST(BinaryLimits, CyclesAreRefused) {
  BinaryBuilder b;
  b.array({1});
  b.array({0});
  const auto bytes = b.build(0);
  EXPECT_NE(check(bytes, 100, 1000), std::nullopt);
  EXPECT_FALSE(decodePlist(bytes));
}

TEST(BinaryLimits, DepthIsCountedInContainers) {
  BinaryBuilder b;
  std::size_t inner = b.integer(7);
  for (int i = 0; i < 10; ++i) inner = b.array({inner});
  const auto bytes = b.build(inner);
  EXPECT_EQ(check(bytes, 10, 1000), std::nullopt);
  EXPECT_NE(check(bytes, 9, 1000), std::nullopt);
}

// Twenty levels that each refer to the level below twice expand to about
// two million nodes from a file of a hundred bytes.
TEST(BinaryLimits, SharedSubtreesAreCountedExpanded) {
  BinaryBuilder b;
  std::size_t level = b.integer(1);
  for (int i = 0; i < 20; ++i) level = b.array({level, level});
  const auto bytes = b.build(level);
  EXPECT_LT(bytes.size(), 200u);
  EXPECT_EQ(check(bytes, 64, 3'000'000), std::nullopt);
  EXPECT_NE(check(bytes, 64, 1'000'000), std::nullopt);
}

// Text and data count once per reference, keys included: each shape sits
// exactly at its expanded size and one byte less is refused.
TEST(BinaryLimits, SharedTextCountsOncePerReference) {
  namespace bombs = testing::plist_bombs;
  struct Shape {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::size_t expanded;
  };
  const Shape shapes[] = {
      {"a string referred to 100 times", bombs::sharedString(1000, 100), 100 * 1000},
      {"one value under ten keys", bombs::sharedDictionaryValues(10, 1000), 10 * 1000 + 10 * 2},
      {"a key shared by 200 dictionaries", bombs::sharedKeys(200, 1000), 200 * 1000},
      {"three levels of five references", bombs::nestedSharedArrays(3, 5, 100), 125 * 100},
  };
  for (const auto& shape : shapes) {
    EXPECT_LT(shape.bytes.size(), 4000u) << shape.what;
    EXPECT_EQ(check(shape.bytes, 8, 1000, shape.expanded), std::nullopt) << shape.what;
    EXPECT_NE(check(shape.bytes, 8, 1000, shape.expanded - 1), std::nullopt) << shape.what;
    auto decoded = decodePlistWithin(shape.bytes, {.maxExpandedBytes = shape.expanded});
    EXPECT_TRUE(decoded) << shape.what << ": " << decoded.error().description;
    EXPECT_FALSE(decodePlistWithin(shape.bytes, {.maxExpandedBytes = shape.expanded - 1})) << shape.what;
  }
  // UTF-16 text counts what it may take as UTF-8.
  testing::BinaryPlistBuilder b;
  const std::size_t text = b.raw({0x62, 0x20, 0xAC, 0x20, 0xAC});  // "€€"
  const auto twice = b.build(b.array({text, text}));
  EXPECT_EQ(check(twice, 8, 10, 12), std::nullopt);
  EXPECT_NE(check(twice, 8, 10, 11), std::nullopt);
}

// The shapes that took the daemon down, at full size, against the default
// (file) budget: refused without building any of them.
TEST(BinaryLimits, ExpansionBombsAreRefused) {
  namespace bombs = testing::plist_bombs;
  const std::vector<std::uint8_t> refused[] = {
      bombs::sharedString(500'000, 10'000),        // 5 GB from 510 KB
      bombs::nestedSharedArrays(6, 200, 10'000),   // 6.4e13 nodes
      bombs::sharedDictionaryValues(8'000, 500'000),  // 4 GB
      bombs::sharedKeys(60'000, 100'000),
      bombs::nestedPairs(40),
  };
  for (const auto& bytes : refused) {
    EXPECT_LT(bytes.size(), 1u << 20) << "fits one IPC frame";
    auto decoded = decodePlist(bytes);
    ASSERT_FALSE(decoded);
    EXPECT_NE(decoded.error().description.find("too many"), std::string::npos) << decoded.error().description;
  }
}

// An object table longer than the node budget is refused before any of its
// objects is looked at, so a small budget keeps the bookkeeping small.
TEST(BinaryLimits, ObjectTablesLongerThanTheNodeBudgetAreRefused) {
  testing::BinaryPlistBuilder b;
  for (int i = 0; i < 100; ++i) b.integer(static_cast<std::uint8_t>(i));  // never referred to
  const auto bytes = b.build(b.array({}));
  EXPECT_EQ(check(bytes, 4, 101), std::nullopt);
  EXPECT_NE(check(bytes, 4, 100), std::nullopt);
}

TEST(BinaryLimits, DanglingReferencesAndBadTrailersAreRefused) {
  {
    BinaryBuilder b;
    b.array({5});
    EXPECT_NE(check(b.build(0), 8, 100), std::nullopt);
  }
  {
    BinaryBuilder b;
    b.integer(1);
    EXPECT_NE(check(b.build(3), 8, 100), std::nullopt) << "top out of range";
    EXPECT_NE(check(b.build(0, 1'000'000), 8, 100), std::nullopt)
        << "more objects claimed than the offset table holds";
  }
  {
    BinaryBuilder b;
    b.raw({0xAF, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_NE(check(b.build(0), 8, 100), std::nullopt) << "absurd length";
  }
  const std::vector<std::uint8_t> tooShort = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0};
  EXPECT_NE(check(tooShort, 8, 100), std::nullopt);
}

// libplist 2.2 aborts on such keys instead of refusing them.
TEST(BinaryLimits, DictionaryKeysMustBePlainStrings) {
  auto dictionaryWithKey = [](std::vector<std::uint8_t> key) {
    BinaryBuilder b;
    b.raw({0xD1, 1, 2});
    b.raw(std::move(key));
    b.integer(5);
    return b.build(0);
  };
  EXPECT_EQ(check(dictionaryWithKey({0x52, 'o', 'k'}), 8, 100), std::nullopt);
  EXPECT_TRUE(decodePlist(dictionaryWithKey({0x52, 'o', 'k'})));
  EXPECT_EQ(check(dictionaryWithKey({0x61, 0, 'k'}), 8, 100), std::nullopt);
  for (const auto& key : {std::vector<std::uint8_t>{0x53, 'a', 0, 'b'},
                          std::vector<std::uint8_t>{0x62, 0, 'a', 0, 0},
                          std::vector<std::uint8_t>{0x10, 7},
                          std::vector<std::uint8_t>{0x5F, 0x10, 0xFF, 'a'}}) {
    const auto bytes = dictionaryWithKey(key);
    EXPECT_NE(check(bytes, 8, 100), std::nullopt);
    EXPECT_FALSE(decodePlist(bytes));
  }
}

TEST(BinaryLimits, KeyedArchiveUidsAreNotPartOfOurVocabulary) {
  BinaryBuilder b;
  b.raw({0x80, 0x01});
  EXPECT_FALSE(decodePlist(b.build(0)));
}

// XML has no shared objects; what could expand is an entity, and libplist
// 2.2 knows none beyond the predefined ones: an entity bomb is refused, or
// at the very least comes out no larger than it went in.
TEST(XmlLimits, EntitiesDoNotExpand) {
  std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"" + std::string(100, 'A') + "\">";
  std::string refs;
  for (int i = 0; i < 100; ++i) refs += "&a;";
  xml += "<!ENTITY b \"" + refs + "\">]><plist version=\"1.0\"><string>" + refs + "&b;&b;&b;</string></plist>";
  auto decoded = decodePlist(xml);
  if (decoded) {
    ASSERT_NE(decoded->text(), nullptr);
    EXPECT_LE(decoded->text()->size(), xml.size());
  }
  auto plain = decodePlist("<plist version=\"1.0\"><string>&lt;&#65;&amp;</string></plist>");
  ASSERT_TRUE(plain);
  EXPECT_EQ(*plain, PlistValue("<A&"));
}

TEST(XmlLimits, CountsOnlyUnclosedContainers) {
  auto check = [](const std::string& xml, std::size_t depth) {
    return plist_limits::checkXml(
        std::span(reinterpret_cast<const unsigned char*>(xml.data()), xml.size()), depth, 100);
  };
  EXPECT_EQ(check("<plist><array><array/><dict/></array><dict></dict></plist>", 1), std::nullopt);
  EXPECT_EQ(check("<plist><array><array/><dict/><array></array></array></plist>", 2), std::nullopt);
  EXPECT_NE(check("<plist><array><dict></dict><array><dict>", 2), std::nullopt);
  EXPECT_EQ(check("<plist><arrays><arrays><arrays>", 1), std::nullopt) << "other element names";
  std::string many = "<array>";
  for (int i = 0; i < 200; ++i) many += "<true/>";
  EXPECT_NE(check(many, 4), std::nullopt) << "element count";
}

}  // namespace
}  // namespace bcn
