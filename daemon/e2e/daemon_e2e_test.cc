// The daemon end to end: the real executable, real sockets, clients in
// their own processes with their own code identities, polkit for the
// administrator's right.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <thread>

#include "daemon/e2e/daemon_harness.h"
#include "platform/netprefs/testing/net_namespace.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using testing::DaemonHarness;
using Role = DaemonHarness::Role;

class DaemonEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: runs the daemon and clients as other users";
  }
  static bool polkitAvailable() { return std::getenv("BCN_POLKIT_TEST") != nullptr; }

  // The pending request ids the console of `user` sees.
  std::vector<std::string> pending(DaemonHarness& daemon, const std::string& user = "root") {
    auto result = daemon.run(Role::console, user, {"pending"});
    std::vector<std::string> ids;
    std::string text = result.standardOutput;
    for (std::size_t at = 0; (at = text.find("id=", at)) != std::string::npos; at += 3) {
      ids.push_back(text.substr(at + 3, text.find('\n', at) - at - 3));
    }
    return ids;
  }
  // Waits until the console's list has `count` entries.
  std::vector<std::string> pendingOnceThereAre(DaemonHarness& daemon, std::size_t count,
                                               const std::string& user = "root") {
    std::vector<std::string> ids;
    for (int i = 0; i < 200 && (ids = pending(daemon, user)).size() != count; ++i) std::this_thread::sleep_for(50ms);
    return ids;
  }
  std::future<ProcessResult> pairInBackground(DaemonHarness& daemon, const std::string& user,
                                              std::chrono::milliseconds limit = 30s) {
    return std::async(std::launch::async,
                      [&daemon, user, limit] { return daemon.run(Role::app, user, {"pair"}, limit); });
  }
};

TEST_F(DaemonEndToEnd, TheWholePairingRoad) {
  if (!polkitAvailable()) GTEST_SKIP() << "needs polkitd and its test users; run scripts/test.sh";
  testing::ScopedNetNamespace ns;
  ASSERT_TRUE(ns.ok());
  const std::string link = testing::uniqueLinkName("e2e");
  ASSERT_TRUE(testing::addVethPair(link));
  ASSERT_TRUE(testing::runIp({"link", "set", link, "up"}));
  DaemonHarness daemon;
  daemon.writeServicePreferences("SVC", "Test", link);
  ASSERT_TRUE(daemon.start());
  const std::string user = "bcn-polkit-yes";

  auto pairing = pairInBackground(daemon, user);
  auto ids = pendingOnceThereAre(daemon, 1, user);
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_TRUE(pending(daemon, "root").empty()) << "root's console sees only root's requests";
  auto approval = daemon.run(Role::console, user, {"approve", ids[0]});
  ASSERT_EQ(approval.standardOutput, "ok\n") << approval.standardError;
  auto paired = pairing.get();
  const std::string token = DaemonHarness::field(paired, "token");
  ASSERT_EQ(token.size(), 44u) << paired.standardOutput;

  EXPECT_EQ(DaemonHarness::field(daemon.run(Role::app, user, {"status", token}), "paired"),
            "1 version=0.1.0 protocol=1");
  EXPECT_EQ(DaemonHarness::field(daemon.run(Role::app, "root", {"status", token}), "paired"),
            "0 version=0.1.0 protocol=1")
      << "a token pairs only its own user";
  EXPECT_EQ(daemon.run(Role::app, user, {"service", "SVC", "off", token}).standardOutput, "ok\n");
  EXPECT_EQ(daemon.run(Role::app, user, {"service", "NOPE", "off", token}).standardOutput,
            "error=2 No such network service\n");
  EXPECT_EQ(daemon.run(Role::app, user, {"unpair", token}).standardOutput, "ok\n");
  EXPECT_EQ(daemon.run(Role::app, user, {"service", "SVC", "on", token}).standardOutput,
            "error=1 This app isn't paired with the admin helper\n");

  const std::string log = daemon.log();
  EXPECT_NE(log.find("admin daemon 0.1.0 listening"), std::string::npos) << log;
  EXPECT_NE(log.find("pairing " + ids[0] + " approved for uid"), std::string::npos) << log;
  EXPECT_NE(log.find(" set service SVC enabled=false"), std::string::npos) << log;
}

TEST_F(DaemonEndToEnd, ANewRequestSupersedesAndAnEndedSessionDropsItsRequest) {
  DaemonHarness daemon;
  ASSERT_TRUE(daemon.start());
  auto first = pairInBackground(daemon, "root");
  auto firstID = pendingOnceThereAre(daemon, 1);
  ASSERT_EQ(firstID.size(), 1u);
  // The second app is killed after 3 s, which ends its session.
  auto second = pairInBackground(daemon, "root", 3s);
  const std::string superseded = first.get().standardOutput;
  EXPECT_EQ(superseded.substr(superseded.find("error=")), "error=3 The pairing request has expired\n");
  auto secondID = pending(daemon);
  ASSERT_EQ(secondID.size(), 1u);
  EXPECT_NE(secondID[0], firstID[0]);
  EXPECT_TRUE(second.get().timedOut);
  EXPECT_TRUE(pendingOnceThereAre(daemon, 0).empty());
  EXPECT_EQ(daemon.run(Role::console, "root", {"deny", secondID[0]}).standardOutput,
            "error=3 The pairing request has expired\n");
}

TEST_F(DaemonEndToEnd, AnAppMayOnlyWaitOnItsOwnRequest) {
  DaemonHarness daemon;
  ASSERT_TRUE(daemon.start());
  auto pairing = pairInBackground(daemon, "root");
  auto ids = pendingOnceThereAre(daemon, 1);
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(daemon.run(Role::app, "root", {"await", ids[0]}).standardOutput,
            "error=3 The pairing request has expired\n");
  EXPECT_EQ(pending(daemon), ids) << "the other app's request is untouched";
  EXPECT_EQ(daemon.run(Role::console, "root", {"deny", ids[0]}).standardOutput, "ok\n");
  EXPECT_EQ(DaemonHarness::field(pairing.get(), "error"), "4 Administrator authorization failed");
}

TEST_F(DaemonEndToEnd, PeersWithoutTheRightIdentityAreTurnedAwayBeforeAnyCall) {
  DaemonHarness daemon;
  ASSERT_TRUE(daemon.start());
  for (Role role : {Role::stranger, Role::impostor}) {
    auto begin = daemon.run(role, "root", {"pair"});
    EXPECT_EQ(begin.exitCode, 1);
    EXPECT_EQ(DaemonHarness::field(begin, "id"), "");
    EXPECT_NE(begin.standardOutput.find("error="), std::string::npos);
    EXPECT_EQ(daemon.run(role, "root", {"pending"}).exitCode, 1);
  }
  // The app's identity does not open the console's service, nor the reverse.
  EXPECT_EQ(daemon.run(Role::app, "root", {"control-status"}).exitCode, 1);
  EXPECT_EQ(daemon.run(Role::console, "root", {"status"}).exitCode, 1);
  EXPECT_EQ(daemon.log().find("pairing requested"), std::string::npos) << daemon.log();
  EXPECT_EQ(daemon.run(Role::console, "root", {"control-status"}).standardOutput, "version=0.1.0 protocol=1\n");
}

TEST_F(DaemonEndToEnd, PairingsSurviveARestartButOpenRequestsDoNot) {
  if (!polkitAvailable()) GTEST_SKIP() << "needs polkitd and its test users; run scripts/test.sh";
  const std::string user = "bcn-polkit-yes";
  DaemonHarness daemon;
  ASSERT_TRUE(daemon.start());
  auto pairing = pairInBackground(daemon, user);
  auto ids = pendingOnceThereAre(daemon, 1, user);
  ASSERT_EQ(ids.size(), 1u);
  ASSERT_EQ(daemon.run(Role::console, user, {"approve", ids[0]}).standardOutput, "ok\n");
  const std::string token = DaemonHarness::field(pairing.get(), "token");
  auto open = pairInBackground(daemon, "root", 5s);
  ASSERT_EQ(pendingOnceThereAre(daemon, 1).size(), 1u);

  ASSERT_TRUE(daemon.stop()) << "SIGTERM ends the daemon promptly";
  EXPECT_NE(open.get().standardOutput.find("error="), std::string::npos) << "the wait ends with its connection";
  ASSERT_TRUE(daemon.start());
  EXPECT_TRUE(pending(daemon).empty());
  EXPECT_EQ(DaemonHarness::field(daemon.run(Role::app, user, {"status", token}), "paired"),
            "1 version=0.1.0 protocol=1");
}

TEST_F(DaemonEndToEnd, ADamagedPairingFileIsKeptAsideAndLogged) {
  DaemonHarness daemon;
  std::filesystem::create_directories(daemon.stateDirectory());
  const std::string damaged = "bplist00 cut short by a full disk";
  testing::writeText(daemon.stateDirectory() / "pairings.plist", damaged);
  ASSERT_TRUE(daemon.start());
  EXPECT_EQ(DaemonHarness::field(daemon.run(Role::app, "root", {"status"}), "paired"), "0 version=0.1.0 protocol=1");
  EXPECT_EQ(testing::readText(daemon.stateDirectory() / "pairings.plist.unreadable"), damaged);
  EXPECT_FALSE(std::filesystem::exists(daemon.stateDirectory() / "pairings.plist"));
  EXPECT_NE(daemon.log().find("pairings.plist could not be used (malformed); it was moved to"), std::string::npos)
      << daemon.log();
}

TEST_F(DaemonEndToEnd, TunnelOwnersNeedNoPairing) {
  DaemonHarness daemon;
  ASSERT_TRUE(daemon.start());
  auto tunnels = daemon.run(Role::app, "nobody", {"tunnels"});
  EXPECT_EQ(tunnels.exitCode, 0) << tunnels.standardOutput << tunnels.standardError;
  EXPECT_NE(DaemonHarness::field(tunnels, "tunnels"), "");
}

TEST_F(DaemonEndToEnd, StartsUnderSocketActivation) {
  DaemonHarness daemon;
  ASSERT_TRUE(daemon.start(/*activated=*/true));
  EXPECT_EQ(daemon.run(Role::console, "root", {"control-status"}).standardOutput, "version=0.1.0 protocol=1\n");
  EXPECT_EQ(DaemonHarness::field(daemon.run(Role::app, "root", {"status"}), "paired"), "0 version=0.1.0 protocol=1");
  EXPECT_NE(daemon.log().find("admin daemon 0.1.0 listening"), std::string::npos) << daemon.log();
}

}  // namespace
}  // namespace bcn
