// The pairing file under faults: a writer killed in the middle of a save,
// again and again, and a full file system. After each, the file must hold
// exactly the store before the failed save or the one after it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "daemon/pairing_store.h"
#include "daemon/testing/store_options.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/testing/kill_loop.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

// The writers keep a sliding window of kWindow pairings: each save either
// adds pairing number `end` or drops the oldest, `first`. The pairing with
// number k has uid k and a token made from k, so every state of the file is
// known in advance, and the file stays small however many saves there are.
constexpr std::uint32_t kWindow = 40;

std::vector<std::uint8_t> tokenBytes(std::uint32_t k) {
  std::vector<std::uint8_t> bytes(PairingStore::kTokenBytes, 0x5A);
  std::memcpy(bytes.data(), &k, sizeof k);
  return bytes;
}

std::string tokenOf(std::uint32_t k) { return crypto::base64Encode(tokenBytes(k)); }

struct Window {
  std::uint32_t first = 0;
  std::uint32_t end = 0;  // one past the newest

  bool operator==(const Window&) const = default;
};

// The window a decoded file holds, or nothing when the file is no state
// the writers can have saved.
std::optional<Window> windowOf(const std::vector<PairingStore::Pairing>& pairings) {
  Window w;
  if (!pairings.empty()) w = {pairings.front().uid, pairings.back().uid + 1};
  if (w.end - w.first != pairings.size()) return std::nullopt;
  const bool growing = w.first == 0 && w.end <= kWindow;
  if (!growing && w.end - w.first != kWindow && w.end - w.first != kWindow - 1) return std::nullopt;
  for (std::uint32_t k = w.first; k < w.end; ++k) {
    const PairingStore::Pairing& p = pairings[k - w.first];
    const auto digest = PairingStore::digest(tokenOf(k));
    if (p.uid != k || p.digest != std::vector<std::uint8_t>(digest.begin(), digest.end())) return std::nullopt;
  }
  return w;
}

// Loads the store, tells the parent it is about to save, then moves the
// window on, one save per step, until killed.
[[noreturn]] void saveForever(const std::filesystem::path& dir, int readyFd) {
  Window w;
  PairingStore::Options options = testing::storeOptionsFor(dir);
  options.random = [&w](std::size_t) { return tokenBytes(w.end); };
  PairingStore store = PairingStore::load(options);
  if (auto loaded = windowOf(store.pairings())) {
    w = *loaded;
  } else {
    ::_exit(2);
  }
  const char ready = 1;
  if (::write(readyFd, &ready, 1) != 1) ::_exit(4);
  for (;;) {
    if (w.end - w.first >= kWindow) {
      if (!store.unpair(tokenOf(w.first), w.first)) ::_exit(3);
      ++w.first;
    } else {
      if (!store.pair(w.end)) ::_exit(3);
      ++w.end;
    }
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
  return std::max(std::chrono::microseconds(50), std::chrono::duration_cast<std::chrono::microseconds>(total / 5));
}

// A killed process leaves the kernel's page cache as it was, so what a kill
// can expose is the same on every file system; in memory the saves are
// quick and the kills many.
TEST(PairingStoreCrashSafety, KillDuringSaveLeavesOldOrNewFile) {
  testing::TempDir dir(testing::memoryDirectory());
  const auto saveTime = timeOfOneSave();
  Window previous;
  std::string problem;
  // A thousand kills, three times the floor asserted below; the time limit
  // only guards a machine so loaded that a save takes several times longer.
  const auto report = testing::killWhileWriting(
      [&](int readyFd) { saveForever(dir.path(), readyFd); },
      [&] {
        auto bytes = files::readFile(dir / "pairings.plist", PairingStore::kMaxFileBytes);
        if (!bytes) {
          // Killed before its first save completed: there is still no file.
          if (previous.end != 0) problem = "the file vanished: " + bytes.error().description;
          return previous.end != 0 ? testing::AfterKill::kBroken : testing::AfterKill::kNoSave;
        }
        auto pairings = PairingStore::decode(*bytes);
        const auto window = pairings ? windowOf(*pairings) : std::nullopt;
        if (!window) {
          problem = "a file of " + std::to_string(bytes->size()) + " bytes that no save wrote";
          return testing::AfterKill::kBroken;
        }
        // Each writer starts from the file and moves the window forward.
        if (window->first < previous.first || window->end < previous.end) {
          problem = "the window went back";
          return testing::AfterKill::kBroken;
        }
        const bool saved = *window != previous;
        previous = *window;
        return saved ? testing::AfterKill::kSaved : testing::AfterKill::kNoSave;
      },
      saveTime, std::chrono::seconds(90), 1000, 4242);
  ASSERT_EQ(report.failure, "") << problem;
  EXPECT_GT(report.kills, 300);
  EXPECT_TRUE(report.sawBothOutcomes()) << report.roundsThatSaved << " of " << report.kills << " after a save";
  // Kills can strand at most the named link of one save each; they must
  // stay rare, since the unnamed temporary file is only linked just before
  // the rename.
  const std::size_t stranded = testing::strandedFiles(dir.path(), "pairings.plist");
  EXPECT_LT(stranded, static_cast<std::size_t>(report.kills) / 10);
  std::printf(
      "one save: %lld us; %d kills, %d of them after a completed save; %u saves in all; %zu stranded "
      "temporary files\n",
      static_cast<long long>(saveTime.count()), report.kills, report.roundsThatSaved, previous.first + previous.end,
      stranded);
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
