// Many connections pairing, deciding and disconnecting at once. Every reply
// re-enters the daemon, which deadlocks if any reply ran under its lock; a
// watchdog turns such a hang into a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>

#include "daemon/testing/daemon_fixture.h"

namespace bcn {
namespace {

using testing::DaemonFixture;
using testing::ReplyBox;
using namespace std::chrono_literals;

constexpr int kApps = 6;
constexpr int kRounds = 150;
constexpr std::uint32_t kFirstUID = 2000;

struct Opened {
  std::uint32_t uid;
  ReplyBox box;
};

TEST(PairingConcurrency, EveryWaiterIsAnsweredAtMostOnceAndNeverUnderTheLock) {
  DaemonFixture f;
  f.authorization.setRule([](const ProcessIdentity& subject, std::string_view, std::uint32_t) {
    return subject.pid == testing::kConsole.pid ? AuthorizationStatus::success : AuthorizationStatus::denied;
  });
  std::mutex openedMutex;
  std::vector<Opened> opened;
  std::atomic<int> approvals{0}, denials{0}, reentered{0};
  std::atomic<bool> appsDone{false};

  auto run = std::async(std::launch::async, [&] {
    std::vector<std::thread> threads;
    for (int app = 0; app < kApps; ++app) {
      threads.emplace_back([&, app] {
        const std::uint32_t uid = kFirstUID + app;
        for (int round = 0; round < kRounds; ++round) {
          const SessionID session = static_cast<SessionID>(app * kRounds + round + 1);
          auto id = f.daemon->beginPairing(uid, session);
          if (!id) continue;
          ReplyBox box;
          auto reply = box.reply();
          f.daemon->awaitPairing(*id, session, [&, reply, uid](std::expected<std::string, PlatformError> answer) {
            (void)f.daemon->pendingPairings(uid);  // re-entry
            (void)f.daemon->isPaired("x", uid);
            ++reentered;
            reply(std::move(answer));
          });
          {
            std::lock_guard guard(openedMutex);
            opened.push_back({uid, box});
          }
          if (round % 7 == 3) f.daemon->sessionEnded(session);
        }
      });
    }
    for (int admin = 0; admin < 3; ++admin) {
      threads.emplace_back([&, admin] {
        std::mt19937 random(admin);
        while (!appsDone) {
          const std::uint32_t uid = kFirstUID + random() % kApps;
          auto list = f.daemon->pendingPairings(uid);
          if (list.empty()) {
            std::this_thread::yield();
            continue;
          }
          const std::string id = *list.front().dictionary()->find("id")->text();
          ProcessIdentity console = testing::kConsole;
          console.uid = uid;
          if (random() % 2) {
            if (f.daemon->approvePairing(id, DaemonFixture::formFor(console), uid, console)) ++approvals;
          } else {
            if (f.daemon->denyPairing(id, uid)) ++denials;
          }
        }
      });
    }
    for (int app = 0; app < kApps; ++app) threads[app].join();
    appsDone = true;
    for (std::size_t i = kApps; i < threads.size(); ++i) threads[i].join();
  });
  if (run.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
    ADD_FAILURE() << "deadlock: a reply ran under the daemon's lock";
    std::abort();
  }

  int tokens = 0, refused = 0, expired = 0, other = 0;
  for (const auto& o : opened) {
    ASSERT_LE(o.box.count(), 1u);
    if (o.box.count() == 0) continue;
    auto answer = o.box.only();
    if (answer) {
      ++tokens;
      EXPECT_TRUE(f.daemon->isPaired(*answer, o.uid));
    } else {
      auto error = adminErrorFromPlatformError(answer.error());
      if (error == AdminError::authorizationFailed)
        ++refused;
      else if (error == AdminError::unknownRequest)
        ++expired;
      else
        ++other;
    }
  }
  EXPECT_EQ(other, 0);
  EXPECT_LE(tokens, approvals.load());
  EXPECT_LE(refused, denials.load());
  EXPECT_EQ(reentered.load(), tokens + refused + expired);
  EXPECT_EQ(PairingStore::load(testing::storeOptionsFor(f.dir.path())).pairings().size(),
            static_cast<std::size_t>(approvals.load()));
  EXPECT_GT(approvals.load() + denials.load(), 0) << "the admins never got to decide anything";
}

// Every status call asks whether its token pairs; that must not wait while
// a change holds the lock, as an approval does while it makes and writes
// a pairing (held here inside its random source).
TEST(PairingConcurrency, PairingChecksDoNotWaitForAChangeInProgress) {
  DaemonFixture f;
  std::atomic<bool> holdNext{false};
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  auto options = testing::storeOptionsFor(f.dir.path() / "held");
  options.random = [&](std::size_t count) {
    if (holdNext.exchange(false)) {
      entered.set_value();
      released.wait();
    }
    return crypto::secureRandomBytes(count);
  };
  PairingStore store(options);
  const std::string token = store.pair(kFirstUID).value();
  f.daemon = std::make_unique<AdminDaemon>(std::move(store), f.authorization, f.log,
                                           netprefs::PreferencesLocation::inDirectory(f.dir.path() / "netprefs"));

  holdNext = true;
  auto approval = std::async(std::launch::async, [&] { return f.approve(f.begin(kFirstUID, 1), kFirstUID); });
  ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
  auto check = std::async(std::launch::async, [&] { return f.daemon->isPaired(token, kFirstUID); });
  const bool answered = check.wait_for(2s) == std::future_status::ready;
  release.set_value();
  EXPECT_TRUE(answered) << "the check waited for the approval's write";
  EXPECT_TRUE(check.get());
  EXPECT_TRUE(approval.get());
  EXPECT_FALSE(f.daemon->isPaired(token, kFirstUID + 1));
}

}  // namespace
}  // namespace bcn
