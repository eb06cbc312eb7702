// The history file under faults: a writer killed in the middle of a save,
// a full file system and a read-only directory. After each, the file must
// decode to a complete map: the one before the failed save or the one after.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "netcore/history/history_store.h"
#include "platform/files.h"
#include "platform/testing/kill_loop.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

using testing::TempDir;

const RateHistory::Retention kCrashRetention{600, 86'400, 2'592'000};
constexpr int kSamples = 200;

// The map after save number `n`: every bucket depends on n, so a file
// mixing the bytes of two saves matches no save at all.
HistoryMap saveNumber(std::uint64_t n) {
  RateHistory en0(kCrashRetention);
  for (int i = 1; i <= kSamples; ++i) {
    en0.add({Date{700'000'000.0 + 30 * i}, 30, 1000ull * static_cast<std::uint64_t>(i) + n, n + 7});
  }
  RateHistory utun3(kCrashRetention);
  utun3.add({Date{700'000'000.0}, 1, n + 1, 0});
  return {{"en0", en0}, {"utun3", utun3}};
}

// Which save a decoded map is, read back from its first bucket.
std::optional<std::uint64_t> numberOf(const HistoryMap& map) {
  const auto en0 = map.find("en0");
  if (en0 == map.end() || en0->second.tiers.empty() || en0->second.tiers[0].buckets.empty()) return std::nullopt;
  return en0->second.tiers[0].buckets.front().bytesIn - 1000;
}

// Loads the file, tells the parent it is about to save, then saves the
// next numbers until killed.
[[noreturn]] void saveForever(const HistoryStore& store, int readyFd) {
  const HistoryMap loaded = store.load();
  std::uint64_t next = loaded.empty() ? 0 : numberOf(loaded).value_or(0) + 1;
  const char ready = 1;
  if (::write(readyFd, &ready, 1) != 1) ::_exit(4);
  for (;; ++next) {
    if (!store.save(saveNumber(next))) ::_exit(3);
  }
}

std::chrono::microseconds timeOfOneSave(const HistoryStore& store) {
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t i = 0; i < 5; ++i) EXPECT_TRUE(store.save(saveNumber(i)).has_value());
  const auto total = std::chrono::steady_clock::now() - start;
  return std::chrono::duration_cast<std::chrono::microseconds>(total / 5);
}

// A killed process leaves the kernel's page cache as it was, so what a kill
// can expose is the same on every file system; in memory the saves are
// quick and the kills many.
TEST(HistoryStoreCrashSafety, KillDuringSaveLeavesOldOrNewFile) {
  TempDir scratch(testing::memoryDirectory());
  const auto saveTime = timeOfOneSave(HistoryStore(scratch / "history.plist"));
  TempDir dir(testing::memoryDirectory());
  const HistoryStore store(dir / "history.plist");
  std::optional<std::uint64_t> previous;
  std::string problem;
  // A thousand kills, three times the floor asserted below; the time limit
  // only guards a machine so loaded that a save takes several times longer.
  const auto report = testing::killWhileWriting(
      [&](int readyFd) { saveForever(store, readyFd); },
      [&] {
        auto bytes = files::readFile(store.url(), PlistLimits::kMaxBytes);
        if (!bytes) {
          // Killed before the first save completed: there is still no file.
          if (previous) problem = "the file vanished: " + bytes.error().description;
          return previous ? testing::AfterKill::kBroken : testing::AfterKill::kNoSave;
        }
        auto map = decodeHistoryFile(*bytes);
        const auto n = map ? numberOf(*map) : std::nullopt;
        if (!n || *map != saveNumber(*n)) {
          problem = "a file of " + std::to_string(bytes->size()) + " bytes that is no complete save";
          return testing::AfterKill::kBroken;
        }
        // Each writer starts from the file and counts up, so the number
        // never goes back.
        if (previous && *n < *previous) {
          problem = "save " + std::to_string(*n) + " after save " + std::to_string(*previous);
          return testing::AfterKill::kBroken;
        }
        const bool saved = !previous || *n > *previous;
        previous = n;
        return saved ? testing::AfterKill::kSaved : testing::AfterKill::kNoSave;
      },
      saveTime, std::chrono::seconds(90), 1000, 1111);
  ASSERT_EQ(report.failure, "") << problem;
  EXPECT_GT(report.kills, 300);
  EXPECT_TRUE(report.sawBothOutcomes()) << report.roundsThatSaved << " of " << report.kills << " after a save";
  // Kills can strand at most the named link of one save each; they must
  // stay rare, since the unnamed temporary file is only linked just before
  // the rename.
  const std::size_t stranded = testing::strandedFiles(dir.path(), "history.plist");
  EXPECT_LT(stranded, static_cast<std::size_t>(report.kills) / 10);
  std::printf(
      "one save: %lld us; %d kills, %d of them after a completed save; last save %llu; %zu stranded "
      "temporary files\n",
      static_cast<long long>(saveTime.count()), report.kills, report.roundsThatSaved,
      static_cast<unsigned long long>(previous.value_or(0)), stranded);
}

TEST(HistoryStoreCrashSafety, FullFileSystemFailsAndKeepsThePreviousFile) {
  if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: mounts a small tmpfs";
  TempDir dir;
  // Run in a child with the tmpfs on `dir`; codes name the step that failed.
  const int outcome = testing::withSmallFileSystem(dir.path(), 256 * 1024, [&] {
    const HistoryStore store(dir / "state" / "history.plist");
    if (!store.save(saveNumber(0))) return 1;
    // One page left: too little for the next file beside the current one.
    if (!testing::fillFileSystem(dir / "filler", 4096)) return 2;
    int refused = 0;
    for (std::uint64_t n = 1; n <= 20; ++n) {
      auto saved = store.save(saveNumber(n));
      if (saved) return 3;
      if (saved.error().domain != PlatformError::kPosixDomain || saved.error().code != ENOSPC) return 4;
      if (store.load() != saveNumber(0)) return 5;
      ++refused;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir / "state")) {
      if (entry.path().filename() != "history.plist") return 6;  // a temporary file left behind
    }
    // Room again: the next save goes through.
    std::filesystem::remove(dir / "filler");
    if (!store.save(saveNumber(21)) || store.load() != saveNumber(21)) return 7;
    return refused == 20 ? 0 : 8;
  });
  EXPECT_EQ(outcome, 0);
}

TEST(HistoryStoreCrashSafety, ReadOnlyDirectoryFailsAndKeepsThePreviousFile) {
  TempDir dir;
  const HistoryStore store(dir / "history.plist");
  ASSERT_TRUE(store.save(saveNumber(1)).has_value());
  const std::string before = testing::readText(store.url());
  const int outcome = testing::withReadOnlyDirectory(dir.path(), [&] {
    auto saved = store.save(saveNumber(2));
    if (saved) return 1;
    if (saved.error().domain != PlatformError::kPosixDomain) return 2;
    if (testing::readText(store.url()) != before) return 3;
    return 0;
  });
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(store.load(), saveNumber(1));
}

}  // namespace
}  // namespace bcn
