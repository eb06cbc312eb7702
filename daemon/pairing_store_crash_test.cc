// Kills a process in the middle of saving the pairing file, again and
// again, and checks after every kill that the file holds a complete store:
// the one before the interrupted save or the one after it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "daemon/pairing_store.h"
#include "platform/files.h"
#include "daemon/testing/store_options.h"
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
  testing::TempDir scratch;
  PairingStore store(testing::storeOptionsFor(scratch.path()));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(store.pair(1));
  const auto total = std::chrono::steady_clock::now() - start;
  return std::max(std::chrono::microseconds(50),
                  std::chrono::duration_cast<std::chrono::microseconds>(total / 5));
}

TEST(PairingStoreCrashSafety, KillDuringSaveLeavesOldOrNewFile) {
  testing::TempDir dir;
  std::mt19937 random(4242);
  const auto saveTime = timeOfOneSave();
  // Kill window, adjusted as we go so that about half the kills land before
  // a save completes whatever the machine's load does to save times.
  double window = 3.0 * static_cast<double>(saveTime.count());
  std::size_t previousCount = 0;
  int kills = 0;
  int roundsThatSaved = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  for (int round = 0; round < 1500 && std::chrono::steady_clock::now() < deadline; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      saveForever(dir.path(), ready[1]);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (static_cast<long long>(window) + 1)));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(started && WIFSIGNALED(status)) << "the writer stopped by itself: a save failed";
    ++kills;

    auto bytes = files::readFile(dir / "pairings.plist", PairingStore::kMaxFileBytes);
    if (!bytes) {
      // Killed before its first save completed: there is still no file.
      ASSERT_EQ(previousCount, 0u) << bytes.error().description;
      window *= 1.1;
      continue;
    }
    auto pairings = PairingStore::decode(*bytes);
    ASSERT_TRUE(pairings) << "round " << round << ": a partial file of " << bytes->size() << " bytes";
    // Each writer starts from the file and only appends, so a complete
    // file never shrinks.
    ASSERT_GE(pairings->size(), previousCount) << "round " << round;
    const bool saved = pairings->size() > previousCount;
    roundsThatSaved += saved;
    window = saved ? std::max(20.0, window * 0.9) : window * 1.1;
    previousCount = pairings->size();
  }
  // Both outcomes must have happened many times, or the kills missed the
  // saves and the test proved nothing.
  EXPECT_GT(kills, 100);
  EXPECT_GT(roundsThatSaved, kills / 10);
  EXPECT_GT(kills - roundsThatSaved, kills / 10);
  // Kills can strand at most the named link of one save each; they must
  // stay rare, since the unnamed temporary file is only linked just before
  // the rename.
  std::size_t stranded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    stranded += entry.path().filename() != "pairings.plist";
  }
  EXPECT_LT(stranded, static_cast<std::size_t>(kills) / 10);
  std::printf("one save: %lld us; %d kills, %d of them after a completed save; %zu pairings in "
              "the final file; %zu stranded temporary files\n",
              static_cast<long long>(saveTime.count()), kills, roundsThatSaved, previousCount, stranded);
}

}  // namespace
}  // namespace bcn
