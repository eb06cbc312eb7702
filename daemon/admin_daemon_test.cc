#include "daemon/admin_daemon.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "daemon/testing/store_options.h"
#include "platform/authorization/fake_authorization.h"
#include "platform/log/log.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

TEST(AdminDaemon, VersionComesFromTheInfoPlist) { EXPECT_EQ(daemonVersion(), "0.1.0"); }

TEST(AdminDaemonUnpair, RemovesOnlyTheCallersOwnPairing) {
  testing::TempDir dir;
  PairingStore store(testing::storeOptionsFor(dir.path()));
  const std::string mine = *store.pair(501);
  const std::string theirs = *store.pair(502);
  FakeAuthorizationServices authorization;
  RecordingLog log;
  AdminDaemon daemon(std::move(store), authorization, log);

  ASSERT_TRUE(daemon.unpair(theirs, 501)) << "another user's token is not an error";
  EXPECT_TRUE(daemon.isPaired(theirs, 502));
  ASSERT_TRUE(daemon.unpair(mine, 501));
  EXPECT_FALSE(daemon.isPaired(mine, 501));
  EXPECT_TRUE(daemon.isPaired(theirs, 502));
  const auto onDisk = PairingStore::load(testing::storeOptionsFor(dir.path()));
  EXPECT_FALSE(onDisk.isPaired(mine, 501));
  EXPECT_TRUE(onDisk.isPaired(theirs, 502));
}

TEST(AdminDaemonUnpair, SaveFailureReachesTheCaller) {
  testing::TempDir dir;
  testing::writeText(dir / "state", "not a directory");
  FakeAuthorizationServices authorization;
  RecordingLog log;
  AdminDaemon daemon(PairingStore(testing::storeOptionsFor(dir / "state")), authorization, log);
  auto result = daemon.unpair("token", 501);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, ENOTDIR);
}

// Status checks and unpairs from many connections at once: every change is
// serialised through the one lock, so the file always matches the last
// change and no pairing is lost or resurrected.
TEST(AdminDaemonUnpair, ConcurrentCallersSeeAConsistentStore) {
  testing::TempDir dir;
  PairingStore store(testing::storeOptionsFor(dir.path()));
  std::vector<std::string> tokens;
  for (std::uint32_t uid = 0; uid < 16; ++uid) tokens.push_back(*store.pair(uid));
  FakeAuthorizationServices authorization;
  RecordingLog log;
  AdminDaemon daemon(std::move(store), authorization, log);

  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (std::uint32_t uid = 0; uid < 16; ++uid) {
    threads.emplace_back([&, uid] {
      // Only this thread removes its own pairing, whatever the others do.
      for (int i = 0; i < 20; ++i) {
        if (!daemon.isPaired(tokens[uid], uid)) ++failures;
        (void)daemon.isPaired(tokens[(uid + 1) % 16], (uid + 1) % 16);
      }
      if (!daemon.unpair(tokens[uid], uid)) ++failures;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  for (std::uint32_t uid = 0; uid < 16; ++uid) EXPECT_FALSE(daemon.isPaired(tokens[uid], uid));
  EXPECT_TRUE(PairingStore::load(testing::storeOptionsFor(dir.path())).pairings().empty());
}

}  // namespace
}  // namespace bcn
