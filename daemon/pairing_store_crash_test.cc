// The pairing file under faults: a writer killed in the middle of a save,
// again and again, and a full file system. After each, the file must hold a
// complete store: the one before the failed save or the one after it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "daemon/pairing_store.h"
#include "daemon/testing/store_options.h"
#include "platform/files.h"
#include "platform/testing/kill_loop.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

// Loads the store, tells the parent it is about to save, then adds
// pairings, one save each, until killed.
[[noreturn]] void saveForever(const std::filesystem::path& dir, int readyFd) {
  PairingStore store = PairingStore::load(testing::storeOptionsFor(dir));
  const char ready = 1;
  if (::write(readyFd, &ready, 1) != 1) ::_exit(4);
  for (std::uint32_t uid = 0;; ++uid) {
    if (!store.pair(uid)) ::_exit(3);
  }
}

// How long one save takes on this machine and build, so kills can be
// spread over the first few saves whatever fsync costs here.
std::chrono::microseconds timeOfOneSave() {
  testing::TempDir scratch(testing::memoryDirectory());
  PairingStore store(testing::storeOptionsFor(scratch.path()));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(store.pair(1));
  const auto total = std::chrono::steady_clock::now() - start;
  return std::max(std::chrono::microseconds(50),
                  std::chrono::duration_cast<std::chrono::microseconds>(total / 5));
}

// A killed process leaves the kernel's page cache as it was, so what a kill
// can expose is the same on every file system; in memory the saves are
// quick and the kills many.
TEST(PairingStoreCrashSafety, KillDuringSaveLeavesOldOrNewFile) {
  testing::TempDir dir(testing::memoryDirectory());
  const auto saveTime = timeOfOneSave();
  std::size_t previousCount = 0;
  std::string problem;
  const auto report = testing::killWhileWriting(
      [&](int readyFd) { saveForever(dir.path(), readyFd); },
      [&] {
        auto bytes = files::readFile(dir / "pairings.plist", PairingStore::kMaxFileBytes);
        if (!bytes) {
          // Killed before its first save completed: there is still no file.
          if (previousCount != 0) problem = "the file vanished: " + bytes.error().description;
          return previousCount != 0 ? testing::AfterKill::kBroken : testing::AfterKill::kNoSave;
        }
        auto pairings = PairingStore::decode(*bytes);
        // Each writer starts from the file and only appends, so a complete
        // file never shrinks.
        if (!pairings || pairings->size() < previousCount) {
          problem = "a partial file of " + std::to_string(bytes->size()) + " bytes";
          return testing::AfterKill::kBroken;
        }
        const bool saved = pairings->size() > previousCount;
        previousCount = pairings->size();
        return saved ? testing::AfterKill::kSaved : testing::AfterKill::kNoSave;
      },
      saveTime, std::chrono::seconds(30), 5000, 4242);
  ASSERT_EQ(report.failure, "") << problem;
  EXPECT_GT(report.kills, 100);
  EXPECT_TRUE(report.sawBothOutcomes()) << report.roundsThatSaved << " of " << report.kills << " after a save";
  // Kills can strand at most the named link of one save each; they must
  // stay rare, since the unnamed temporary file is only linked just before
  // the rename.
  const std::size_t stranded = testing::strandedFiles(dir.path(), "pairings.plist");
  EXPECT_LT(stranded, static_cast<std::size_t>(report.kills) / 10);
  std::printf(
      "one save: %lld us; %d kills, %d of them after a completed save; %zu pairings in "
      "the final file; %zu stranded temporary files\n",
      static_cast<long long>(saveTime.count()), report.kills, report.roundsThatSaved, previousCount, stranded);
}

TEST(PairingStoreCrashSafety, FullFileSystemFailsAndKeepsThePreviousFile) {
  if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: mounts a small tmpfs";
  testing::TempDir dir;
  // Run in a child with the tmpfs on `dir`; codes name the step that failed.
  const int outcome = testing::withSmallFileSystem(dir.path(), 256 * 1024, [&] {
    PairingStore store(testing::storeOptionsFor(dir / "state"));
    for (std::uint32_t uid = 0; uid < 100; ++uid) {
      if (!store.pair(uid)) return 1;
    }
    const std::string before = testing::readText(dir / "state" / "pairings.plist");
    // One page left: too little for the next file beside the current one.
    if (!testing::fillFileSystem(dir / "filler", 4096)) return 2;
    auto token = store.pair(501);
    if (token) return 3;
    if (token.error().domain != PlatformError::kPosixDomain || token.error().code != ENOSPC) return 4;
    if (testing::readText(dir / "state" / "pairings.plist") != before) return 5;
    if (PairingStore::load(testing::storeOptionsFor(dir / "state")).pairings().size() != 100) return 6;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "state")) {
      if (entry.path().filename() != "pairings.plist") return 7;  // a temporary file left behind
    }
    // Room again: the pairing kept in memory is saved with the next change.
    std::filesystem::remove(dir / "filler");
    auto again = store.pair(502);
    if (!again) return 8;
    return PairingStore::load(testing::storeOptionsFor(dir / "state")).pairings().size() == 102 ? 0 : 9;
  });
  EXPECT_EQ(outcome, 0);
}

}  // namespace
}  // namespace bcn
