#include "netcore/history/history_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "netcore/history/history_coding.h"
#include "platform/files.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

using bcn::testing::TempDir;

const RateHistory::Retention kStoreRetention{600, 86'400, 2'592'000};

// Two interfaces with traffic (one carrying counts up to 2^53), one that
// only saw idle samples and one that never saw any.
HistoryMap sampleHistories() {
  HistoryMap map;
  RateHistory en0(kStoreRetention);
  for (int i = 1; i <= 200; ++i) en0.add({Date{1000.0 + 30 * i}, 30, 1000ull * i, 7ull * i});
  RateHistory big(kStoreRetention);
  big.add({Date{5000}, 1, 1ull << 53, (1ull << 53) - 1});
  RateHistory idle(kStoreRetention);
  idle.add({Date{5000}, 1, 0, 0});
  map.emplace("en0", en0);
  map.emplace("utun3", big);
  map.emplace("idle", idle);
  map.emplace("never", RateHistory(kStoreRetention));
  return map;
}

HistoryMap withTraffic(HistoryMap map) {
  std::erase_if(map, [](const auto& entry) { return !entry.second.hasTraffic(); });
  return map;
}

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
  auto bytes = files::readFile(path, 1 << 26);
  EXPECT_TRUE(bytes.has_value());
  return bytes.value_or(std::vector<std::uint8_t>{});
}

TEST(HistoryStoreTest, SaveThenLoadReturnsEveryHistoryWithTraffic) {
  TempDir dir;
  const HistoryStore store(dir / "a" / "b" / "history.plist");  // directories do not exist yet
  const HistoryMap saved = sampleHistories();
  ASSERT_TRUE(store.save(saved).has_value());
  const HistoryMap loaded = store.load();
  EXPECT_EQ(loaded, withTraffic(saved));
  ASSERT_EQ(loaded.count("utun3"), 1u);
  EXPECT_EQ(loaded.at("utun3").tiers[2].buckets[0].bytesIn, 1ull << 53);
  EXPECT_EQ(loaded.at("utun3").tiers[2].buckets[0].bytesOut, (1ull << 53) - 1);
}

TEST(HistoryStoreTest, FileIsABinaryPlistOfTheDocumentedShape) {
  TempDir dir;
  const HistoryStore store(dir / "history.plist");
  ASSERT_TRUE(store.save(sampleHistories()).has_value());
  const auto bytes = fileBytes(store.url());
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "bplist00");
  auto root = decodePlist(bytes);
  ASSERT_TRUE(root.has_value());
  ASSERT_NE(root->dictionary(), nullptr);
  EXPECT_EQ(root->dictionary()->size(), 2u);
  const PlistValue* en0 = root->dictionary()->find("en0");
  ASSERT_NE(en0, nullptr);
  const PlistArray* tiers = en0->dictionary()->find("tiers")->array();
  ASSERT_EQ(tiers->size(), 3u);
  const PlistDictionary& raw = *(*tiers)[0].dictionary();
  EXPECT_EQ(raw.find("granularity")->real(), 0.0);
  EXPECT_EQ(raw.find("retention")->real(), 600.0);
  EXPECT_EQ(raw.find("buckets")->data()->size(), 200u * 64);
}

TEST(HistoryStoreTest, HistoriesWithoutTrafficLeaveAnEmptyDictionary) {
  TempDir dir;
  const HistoryStore store(dir / "history.plist");
  HistoryMap idleOnly = sampleHistories();
  idleOnly.erase("en0");
  idleOnly.erase("utun3");
  ASSERT_TRUE(store.save(idleOnly).has_value());
  auto root = decodePlist(fileBytes(store.url()));
  ASSERT_TRUE(root.has_value());
  ASSERT_NE(root->dictionary(), nullptr);
  EXPECT_TRUE(root->dictionary()->empty());
  EXPECT_TRUE(store.load().empty());
}

TEST(HistoryStoreTest, LoadAppliesNoPruningOrReshaping) {
  TempDir dir;
  const HistoryStore store(dir / "history.plist");
  RateHistory odd;
  odd.tiers.push_back({0, 1, {{1, 1, 5, 0, 5, 5, 0, 0}}});  // long expired, one tier
  ASSERT_TRUE(store.save({{"x", odd}}).has_value());
  EXPECT_EQ(store.load(), (HistoryMap{{"x", odd}}));
}

TEST(HistoryStoreTest, MissingUnreadableOrForeignFilesLoadEmpty) {
  TempDir dir;
  EXPECT_TRUE(HistoryStore(dir / "missing.plist").load().empty());
  EXPECT_TRUE(HistoryStore(dir.path()).load().empty());  // a directory

  const std::vector<PlistValue> foreign{
      PlistArray{PlistValue(1)},
      PlistDictionary{{"en0", "not a history"}},
      PlistDictionary{{"en0", PlistDictionary{{"tiers", PlistArray{}}}}, {"en1", PlistDictionary{}}},
  };
  for (const auto& value : foreign) {
    auto bytes = encodeBinaryPlist(value);
    ASSERT_TRUE(bytes.has_value());
    ASSERT_TRUE(files::writeFileAtomically(dir / "h.plist", *bytes, 0644).has_value());
    EXPECT_TRUE(HistoryStore(dir / "h.plist").load().empty());
  }
  bcn::testing::writeText(dir / "h.plist", "{\"en0\": {\"tiers\": []}}");
  EXPECT_TRUE(HistoryStore(dir / "h.plist").load().empty());
}

TEST(HistoryStoreTest, FileTruncatedAnywhereLoadsEmptyOrWhole) {
  TempDir dir;
  HistoryMap full;
  RateHistory en0(kStoreRetention);
  for (int i = 1; i <= 12; ++i) en0.add({Date{100.0 + 17 * i}, 17, 999ull * i, 3ull * i});
  full.emplace("en0", en0);
  full.emplace("utun3", sampleHistories().at("utun3"));
  const HistoryStore source(dir / "full.plist");
  ASSERT_TRUE(source.save(full).has_value());
  const auto bytes = fileBytes(source.url());

  // Plain writes: the point is the reader, and thousands of fsyncs would
  // only slow the test down.
  const HistoryStore cut(dir / "cut.plist");
  std::size_t whole = 0;
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    bcn::testing::writeText(cut.url(), std::string(bytes.begin(), bytes.begin() + n));
    const HistoryMap loaded = cut.load();
    if (!loaded.empty()) {
      ASSERT_EQ(loaded, full) << "truncated to " << n << " bytes";
      ++whole;
    }
  }
  EXPECT_EQ(whole, 1u);  // only the untruncated file
}

TEST(HistoryStoreTest, LargerFileTruncatedAnywhereDecodesEmptyOrWhole) {
  const HistoryMap full = withTraffic(sampleHistories());
  auto bytes = encodeHistoryFile(full);
  ASSERT_TRUE(bytes.has_value());
  ASSERT_GT(bytes->size(), 10'000u);
  for (std::size_t n = 0; n < bytes->size(); ++n) {
    auto decoded = decodeHistoryFile(std::span(*bytes).first(n));
    ASSERT_FALSE(decoded.has_value() && *decoded != full) << "truncated to " << n << " bytes";
  }
  EXPECT_EQ(decodeHistoryFile(*bytes), full);
}

TEST(HistoryStoreTest, FailedSaveReportsAndKeepsThePreviousFile) {
  TempDir dir;
  const HistoryStore store(dir / "history.plist");
  const HistoryMap first = withTraffic(sampleHistories());
  ASSERT_TRUE(store.save(first).has_value());

  HistoryMap badKey = first;
  badKey.emplace(std::string("en\0x", 4), first.at("en0"));
  auto result = store.save(badKey);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(store.load(), first);

  bcn::testing::writeText(dir / "file", "x");
  result = HistoryStore(dir / "file" / "history.plist").save(first);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().domain, PlatformError::kPosixDomain);
  EXPECT_EQ(result.error().code, ENOTDIR);
}

// Found by fuzzing: a key that is not UTF-8 (a binary "ASCII" string with
// a high byte) used to load, and the next save reported success while
// writing a file that loaded empty, losing every history in it.
TEST(HistoryStoreTest, KeyThatIsNotUtf8NeitherLoadsNorSaves) {
  TempDir dir;
  const HistoryStore store(dir / "history.plist");
  HistoryMap histories = withTraffic(sampleHistories());
  histories.emplace("Xtun9", histories.at("en0"));
  auto bytes = encodeHistoryFile(histories);
  ASSERT_TRUE(bytes.has_value());
  const std::string_view marker = "Xtun9";
  const auto at = std::search(bytes->begin(), bytes->end(), marker.begin(), marker.end());
  ASSERT_NE(at, bytes->end());
  *at = 0x90;
  EXPECT_FALSE(decodeHistoryFile(*bytes).has_value());
  ASSERT_TRUE(files::writeFileAtomically(store.url(), *bytes, 0644).has_value());
  EXPECT_TRUE(store.load().empty());

  const HistoryMap good = withTraffic(sampleHistories());
  ASSERT_TRUE(store.save(good).has_value());
  HistoryMap bad = good;
  bad.emplace("\x90tun9", good.at("en0"));
  auto result = store.save(bad);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(store.load(), good) << "the refused save left the previous file";
}

}  // namespace
}  // namespace bcn
