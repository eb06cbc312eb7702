// Local users who try to make the daemon useless for everyone else by
// making it work: slow scans asked for over many connections, calls queued
// and abandoned, connections spread over the uids of a user namespace.
// Each test measures what a bystander sees (another user's status calls on
// an open connection) and that the daemon gives back what the attack took.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "daemon/e2e/daemon_harness.h"
#include "daemon/load/peer_as_user.h"
#include "daemon/listener.h"
#include "daemon/load/process_usage.h"
#include "platform/ipc/testing/child_peer.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using load::reportedNumber;
using load::startAs;
using testing::DaemonHarness;
using Role = DaemonHarness::Role;

const std::string kAttacker = "nobody";
const std::string kBystander = "daemon";

// Enough descriptors held open that one scan of the process table takes a
// good fraction of a second; spread over processes, since each may hold
// fewer than 20,000.
constexpr std::size_t kHolders = 5;
constexpr std::size_t kHeldPerHolder = 19'000;

// A bystander's status call must come back within this, attack or not. An
// idle daemon answers in milliseconds; without fair queues the attacks
// below delay it by tens of seconds.
constexpr double kBystanderBoundMs = 2'000;

class HostileLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: runs the daemon and clients as other users";
    app_ = daemon_.install(BCN_LOAD_PEER, Role::app, "load-app");
    ASSERT_TRUE(daemon_.start());
    // The bystander's first call, so that its later ones measure the
    // daemon, not a cold start.
    const std::string first = probe(1);
    ASSERT_NE(first.find("failed=0"), std::string::npos) << first;
    ASSERT_TRUE(load::connectionsGone(daemon_.pid(), 30s));
    baselineDescriptors_ = load::openDescriptors(daemon_.pid()).value_or(0);
  }

  void TearDown() override {
    for (auto& peer : attackers_) peer->kill();
  }

  // `count` status calls of the bystander, one after another.
  std::string probe(std::size_t count) {
    return daemon_.runProgram(app_, kBystander, {"probe", "--count", std::to_string(count)}, {}, 180s).standardOutput;
  }

  ipc::testing::ChildPeer& attack(const std::vector<std::string>& args, const std::string& ready) {
    attackers_.push_back(startAs(kAttacker, app_, args));
    const std::string said = attackers_.back()->readUntil(ready, 60s);
    EXPECT_NE(said.find(ready), std::string::npos) << said;
    return *attackers_.back();
  }

  void holdDescriptors() {
    for (std::size_t i = 0; i < kHolders; ++i) attack({"hold-fds", "--count", std::to_string(kHeldPerHolder)}, "held=");
  }

  // Once the attackers are gone the daemon is alive and holds what it held
  // before.
  void expectRecovered() {
    std::ifstream status("/proc/" + std::to_string(daemon_.pid()) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmHWM:", 0) == 0) std::printf("daemon peak resident memory: %s\n", line.substr(6).c_str());
    }
    for (auto& peer : attackers_) peer->kill();
    attackers_.clear();
    EXPECT_EQ(::kill(daemon_.pid(), 0), 0) << "the daemon died";
    EXPECT_TRUE(load::connectionsGone(daemon_.pid(), 60s)) << "connections of the attack are still held";
    EXPECT_EQ(load::openDescriptors(daemon_.pid()), baselineDescriptors_);
    const std::string after = probe(5);
    EXPECT_NE(after.find("failed=0"), std::string::npos) << after;
  }

  DaemonHarness daemon_;
  std::filesystem::path app_;
  std::size_t baselineDescriptors_ = 0;
  std::vector<std::unique_ptr<ipc::testing::ChildPeer>> attackers_;
};

TEST_F(HostileLoad, ScansAskedOverManyConnectionsDoNotStarveOtherUsers) {
  holdDescriptors();
  attack({"scan-flood", "--connections", std::to_string(kConnectionsPerUser), "--depth", "4", "--seconds", "120"},
         "flooding");
  std::this_thread::sleep_for(1s);  // let the backlog build
  const std::string seen = probe(20);
  EXPECT_NE(seen.find("failed=0"), std::string::npos) << seen;
  EXPECT_LT(reportedNumber(seen, "p99_ms"), kBystanderBoundMs) << seen;
  std::printf("bystander under a scan flood:\n%s", seen.c_str());
  expectRecovered();
}

TEST_F(HostileLoad, CallsQueuedOnConnectionsThatThenCloseAreNotRun) {
  holdDescriptors();
  attack({"queue-close", "--connections", std::to_string(kConnectionsPerUser), "--calls", "20"}, "closed");
  const std::string seen = probe(10);
  EXPECT_NE(seen.find("failed=0"), std::string::npos) << seen;
  EXPECT_LT(reportedNumber(seen, "max_ms"), kBystanderBoundMs) << seen;
  std::printf("bystander after queue-then-close:\n%s", seen.c_str());
  expectRecovered();
}

TEST_F(HostileLoad, UidsOfAUserNamespaceCountAgainstItsOwner) {
  const std::size_t uids = 2 * kConnectionsPerUser;
  auto& flood = attack({"ns-flood", "--count", std::to_string(uids), "--uids", std::to_string(uids)}, "unshared");
  {
    // Root maps a range of otherwise unused uids, as newuidmap would from
    // the attacker's /etc/subuid entry.
    std::ofstream map("/proc/" + std::to_string(flood.pid()) + "/uid_map");
    map << "1 300001 " << uids << "\n";
    map.close();
    ASSERT_TRUE(map) << "cannot write the uid map";
  }
  ::kill(flood.pid(), SIGUSR1);
  const std::string counts = flood.readUntil("holding", 120s);
  EXPECT_NE(counts.find("served=" + std::to_string(kConnectionsPerUser) +
                        "\nrefused=" + std::to_string(uids - kConnectionsPerUser) + "\nother=0\n"),
            std::string::npos)
      << counts;
  EXPECT_NE(counts.find("Too many connections from this user"), std::string::npos) << counts;
  // The namespace's owner is the same person, outside it too.
  EXPECT_NE(daemon_.run(Role::app, kAttacker, {"status"}).standardOutput.find("Too many connections"),
            std::string::npos);
  const std::string seen = probe(20);
  EXPECT_NE(seen.find("failed=0"), std::string::npos) << seen;
  std::printf("bystander during a user-namespace connection flood:\n%s", seen.c_str());
  expectRecovered();
}

}  // namespace
}  // namespace bcn
