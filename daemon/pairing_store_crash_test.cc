// Kills a process in the middle of saving the pairing file, again and
// again, and checks after every kill that the file holds a complete store:
// the one before the interrupted save or the one after it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "daemon/pairing_store.h"
#include "platform/files.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

PairingStore::Options optionsFor(const std::filesystem::path& dir) {
  return {.directory = dir, .ownerUID = ::geteuid(), .ownerGID = ::getegid()};
}

// Loads the store and adds pairings, one save each, until killed.
[[noreturn]] void saveForever(const std::filesystem::path& dir) {
  PairingStore store = PairingStore::load(optionsFor(dir));
  for (std::uint32_t uid = 0;; ++uid) {
    if (!store.pair(uid)) ::_exit(3);
  }
}

TEST(PairingStoreCrashSafety, KillDuringSaveLeavesOldOrNewFile) {
  testing::TempDir dir;
  std::mt19937 random(4242);
  std::size_t previousCount = 0;
  int kills = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  for (int round = 0; round < 1500 && std::chrono::steady_clock::now() < deadline; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) saveForever(dir.path());
    std::this_thread::sleep_for(std::chrono::microseconds(200 + random() % 3000));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: a save failed";
    ++kills;

    auto bytes = files::readFile(dir / "pairings.plist", PairingStore::kMaxFileBytes);
    if (!bytes) {
      // Killed before its first save completed: there is still no file.
      ASSERT_EQ(previousCount, 0u) << bytes.error().description;
      continue;
    }
    auto pairings = PairingStore::decode(*bytes);
    ASSERT_TRUE(pairings) << "round " << round << ": a partial file of " << bytes->size() << " bytes";
    // Each writer starts from the file and only appends, so a complete
    // file never shrinks.
    ASSERT_GE(pairings->size(), previousCount) << "round " << round;
    previousCount = pairings->size();
  }
  EXPECT_GT(kills, 100);
  EXPECT_GT(previousCount, 0u) << "no save ever completed: the test proved nothing";
  // Kills can strand at most the named link of one save each; they must
  // stay rare, since the unnamed temporary file is only linked just before
  // the rename.
  std::size_t stranded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    stranded += entry.path().filename() != "pairings.plist";
  }
  EXPECT_LT(stranded, static_cast<std::size_t>(kills) / 10);
  std::printf("%d kills, %zu pairings in the final file, %zu stranded temporary files\n", kills,
              previousCount, stranded);
}

}  // namespace
}  // namespace bcn
