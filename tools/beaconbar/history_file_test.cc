#include "tools/beaconbar/history_file.h"

#include <gtest/gtest.h>

#include "platform/testing/test_support.h"
#include "tools/beaconbar/testing/model_fixtures.h"

namespace bcn::cli {
namespace {

using bcn::testing::TempDir;

TEST(HistoryPathTest, StateHomeThenHomeThenError) {
  EXPECT_EQ(defaultHistoryPath("/state", "/home/u"), std::filesystem::path("/state/beaconbar/history.plist"));
  EXPECT_EQ(defaultHistoryPath(nullptr, "/home/u"),
            std::filesystem::path("/home/u/.local/state/beaconbar/history.plist"));
  // Empty and relative values are to be ignored.
  EXPECT_EQ(defaultHistoryPath("", "/home/u"), std::filesystem::path("/home/u/.local/state/beaconbar/history.plist"));
  EXPECT_EQ(defaultHistoryPath("state", "/home/u"),
            std::filesystem::path("/home/u/.local/state/beaconbar/history.plist"));
  EXPECT_FALSE(defaultHistoryPath(nullptr, nullptr));
  EXPECT_FALSE(defaultHistoryPath("rel", "also/rel"));
}

TEST(HistoryFileTest, MissingFileIsAnEmptyHistory) {
  TempDir dir;
  auto histories = readHistoryFile(dir / "none.plist");
  ASSERT_TRUE(histories) << histories.error();
  EXPECT_TRUE(histories->empty());
}

TEST(HistoryFileTest, ReadsWhatTheStoreSaved) {
  TempDir dir;
  const HistoryMap saved{{"en0", testing::historyWithSample(500)}};
  ASSERT_TRUE(HistoryStore(dir / "h.plist").save(saved));
  auto histories = readHistoryFile(dir / "h.plist");
  ASSERT_TRUE(histories) << histories.error();
  EXPECT_EQ(*histories, saved);
}

TEST(HistoryFileTest, DamageIsAnErrorNamingTheFile) {
  TempDir dir;
  for (const std::string& content : {std::string("bplist00garbage"), std::string("not a plist at all"),
                                     std::string("<?xml version=\"1.0\"?><plist><array/></plist>")}) {
    bcn::testing::writeText(dir / "h.plist", content);
    auto histories = readHistoryFile(dir / "h.plist");
    ASSERT_FALSE(histories) << content;
    EXPECT_NE(histories.error().find((dir / "h.plist").string()), std::string::npos) << histories.error();
  }
  std::filesystem::create_directory(dir / "dir.plist");
  EXPECT_FALSE(readHistoryFile(dir / "dir.plist"));
}

TEST(HistoryFileLockTest, OneHolderAtATime) {
  TempDir dir;
  const auto file = dir / "nested" / "h.plist";
  {
    auto first = HistoryFileLock::tryAcquire(file);
    ASSERT_TRUE(first) << first.error();
    EXPECT_TRUE(first->has_value());
    auto second = HistoryFileLock::tryAcquire(file);
    ASSERT_TRUE(second) << second.error();
    EXPECT_FALSE(second->has_value());
  }
  auto again = HistoryFileLock::tryAcquire(file);
  ASSERT_TRUE(again) << again.error();
  EXPECT_TRUE(again->has_value());
}

}  // namespace
}  // namespace bcn::cli
