// beaconbar and beaconbar-adminctl against the real daemon: the tool pairs
// through the app service, the administrator approves or denies through
// the control service, the paired tool switches a service and unpairs.
// Both programs are recorded in the harness's private code-identity
// registry under the app's and the console's identifiers, as the install
// records them. Needs root; approvals need polkitd and its test users.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "daemon/e2e/daemon_harness.h"
#include "platform/netprefs/testing/net_namespace.h"
#include "protocol/admin_constants.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::DaemonHarness;

// The whole of standard error is one "<program>: ..." line.
::testing::AssertionResult isOneErrorLine(const ProcessResult& result, const std::string& program) {
  const std::string& text = result.standardError;
  if (result.exitCode == 1 && text.rfind(program + ": ", 0) == 0 && text.find('\n') == text.size() - 1) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "exit " << result.exitCode << ", not one error line: [" << text << "]";
}

class PairingEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: runs the daemon and its clients as other users";
    daemon_ = std::make_unique<DaemonHarness>();
    beaconbar_ = daemon_->addProgram(BEACONBAR_EXECUTABLE, AdminConstants::appBundleID);
    adminctl_ = daemon_->addProgram(BEACONBAR_ADMINCTL_EXECUTABLE, AdminConstants::adminAppBundleID);
  }

  static bool polkitAvailable() { return std::getenv("BCN_POLKIT_TEST") != nullptr; }

  // A configuration home that `user` owns, for its token.
  void giveConfigurationHomeTo(const std::string& user) {
    const passwd* account = ::getpwnam(user.c_str());
    ASSERT_NE(account, nullptr) << user;
    ASSERT_EQ(::chmod(daemon_->base().c_str(), 0755), 0);
    ASSERT_EQ(::chown(home_.path().c_str(), account->pw_uid, account->pw_gid), 0);
  }
  std::filesystem::path tokenFile() const { return home_.path() / "beaconbar" / "token"; }

  ProcessResult beaconbar(const std::string& user, const std::vector<std::string>& args,
                          std::chrono::milliseconds timeout = 20s) {
    return daemon_->runProgram(beaconbar_, user, args, {"XDG_CONFIG_HOME=" + home_.path().string()}, timeout);
  }
  ProcessResult adminctl(const std::string& user, const std::vector<std::string>& args) {
    return daemon_->runProgram(adminctl_, user, args);
  }
  std::future<ProcessResult> pairInBackground(const std::string& user) {
    return std::async(std::launch::async, [this, user] { return beaconbar(user, {"pair"}, 60s); });
  }

  // The ids `beaconbar-adminctl pending` lists for `user`, once there are
  // `count` of them.
  std::vector<std::string> pendingOnceThereAre(std::size_t count, const std::string& user) {
    std::vector<std::string> ids;
    for (int i = 0; i < 200; ++i) {
      auto listed = adminctl(user, {"pending", "--json"});
      ids.clear();
      if (listed.exitCode == 0) {
        const json parsed = json::parse(listed.standardOutput);
        for (const json& r : parsed["pending"]) ids.push_back(r["id"]);
      }
      if (ids.size() == count) break;
      std::this_thread::sleep_for(50ms);
    }
    return ids;
  }

  json servicesJson(const std::string& user) {
    auto listed = beaconbar(user, {"services", "--json"});
    EXPECT_EQ(listed.exitCode, 0) << listed.standardError;
    return listed.exitCode == 0 ? json::parse(listed.standardOutput) : json();
  }

  std::unique_ptr<DaemonHarness> daemon_;
  std::filesystem::path beaconbar_;
  std::filesystem::path adminctl_;
  testing::TempDir home_;
};

TEST_F(PairingEndToEnd, WithoutPairingEveryCommandSaysWhatIsMissing) {
  auto notRunning = beaconbar("root", {"status"});
  EXPECT_TRUE(isOneErrorLine(notRunning, "beaconbar"));
  EXPECT_NE(notRunning.standardError.find("the admin daemon is not running"), std::string::npos);
  auto consoleNotRunning = adminctl("root", {"pending"});
  EXPECT_TRUE(isOneErrorLine(consoleNotRunning, "beaconbar-adminctl"));
  EXPECT_NE(consoleNotRunning.standardError.find("the admin daemon is not running"), std::string::npos);

  ASSERT_TRUE(daemon_->start());
  auto status = beaconbar("root", {"status"});
  EXPECT_EQ(status.standardOutput,
            "Admin daemon  running, version 0.1.0, protocol 1\n"
            "Paired        no (run: beaconbar pair)\n")
      << status.standardError;
  auto statusJson = json::parse(beaconbar("root", {"status", "--json"}).standardOutput);
  EXPECT_EQ(statusJson["paired"], false);
  EXPECT_TRUE(statusJson["tokenFile"].is_null());

  auto noToken = beaconbar("root", {"service", "off", "SVC"});
  EXPECT_TRUE(isOneErrorLine(noToken, "beaconbar"));
  EXPECT_NE(noToken.standardError.find("no token in " + tokenFile().string()), std::string::npos);
  EXPECT_TRUE(isOneErrorLine(beaconbar("root", {"unpair"}), "beaconbar"));

  // A well-formed token the daemon never issued.
  std::filesystem::create_directories(tokenFile().parent_path());
  testing::writeText(tokenFile(), std::string(43, 'A') + "=\n");
  auto stale = beaconbar("root", {"service", "off", "SVC"});
  EXPECT_TRUE(isOneErrorLine(stale, "beaconbar"));
  EXPECT_EQ(stale.standardError, "beaconbar: not paired with the admin daemon; run: beaconbar pair\n");
  EXPECT_NE(beaconbar("root", {"status"}).standardOutput.find("is no longer accepted"), std::string::npos);
  testing::writeText(tokenFile(), "not a token\n");
  auto damaged = beaconbar("root", {"status"});
  EXPECT_TRUE(isOneErrorLine(damaged, "beaconbar"));
  EXPECT_NE(damaged.standardError.find("is damaged"), std::string::npos);

  EXPECT_EQ(adminctl("root", {"pending"}).standardOutput, "No pairing requests are waiting for this user.\n");
  auto unknown = adminctl("root", {"deny", "0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9"});
  EXPECT_TRUE(isOneErrorLine(unknown, "beaconbar-adminctl"));
  EXPECT_NE(unknown.standardError.find("no pairing request with that id is waiting"), std::string::npos);

  // The programs as built, not recorded in the registry, are turned away.
  auto stranger = daemon_->runProgram(BEACONBAR_EXECUTABLE, "root", {"status"},
                                      {"XDG_CONFIG_HOME=" + home_.path().string() + "/none"});
  EXPECT_TRUE(isOneErrorLine(stranger, "beaconbar"));
  EXPECT_NE(stranger.standardError.find("code-identity registry"), std::string::npos) << stranger.standardError;
  auto strangeConsole = daemon_->runProgram(BEACONBAR_ADMINCTL_EXECUTABLE, "root", {"pending"});
  EXPECT_TRUE(isOneErrorLine(strangeConsole, "beaconbar-adminctl"));
}

TEST_F(PairingEndToEnd, TunnelOwnersComeFromTheDaemonForOtherUsers) {
  ASSERT_TRUE(daemon_->start());
  giveConfigurationHomeTo("nobody");
  auto listed = beaconbar("nobody", {"tunnels", "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.standardError;
  EXPECT_TRUE(json::parse(listed.standardOutput)["tunnels"].is_array());
}

TEST_F(PairingEndToEnd, CtrlCWithdrawsTheRequest) {
  ASSERT_TRUE(daemon_->start());
  auto pair = std::async(std::launch::async, [this] {
    return daemon_->runProgram("timeout", "root",
                               {"--foreground", "--preserve-status", "-s", "INT", "3", beaconbar_.string(), "pair"},
                               {"XDG_CONFIG_HOME=" + home_.path().string()});
  });
  ASSERT_EQ(pendingOnceThereAre(1, "root").size(), 1u);
  auto interrupted = pair.get();
  EXPECT_EQ(interrupted.exitCode, 130);
  EXPECT_EQ(interrupted.standardError, "beaconbar: interrupted; the pairing request was withdrawn\n");
  EXPECT_TRUE(pendingOnceThereAre(0, "root").empty());
  EXPECT_FALSE(std::filesystem::exists(tokenFile()));
}

TEST_F(PairingEndToEnd, PairApproveSwitchAndUnpair) {
  if (!polkitAvailable()) GTEST_SKIP() << "needs polkitd and its test users; run scripts/test.sh";
  testing::ScopedNetNamespace ns;
  ASSERT_TRUE(ns.ok());
  const std::string link = testing::uniqueLinkName("pe2e");
  ASSERT_TRUE(testing::addVethPair(link));
  ASSERT_TRUE(testing::runIp({"link", "set", link, "up"}));
  daemon_->writeServicePreferences("SVC", "Office", link);
  ASSERT_TRUE(daemon_->start());
  const std::string user = "bcn-polkit-yes";
  giveConfigurationHomeTo(user);

  auto pairing = pairInBackground(user);
  auto ids = pendingOnceThereAre(1, user);
  ASSERT_EQ(ids.size(), 1u);
  std::string typed = ids[0];
  for (char& c : typed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto approval = adminctl(user, {"approve", typed});
  ASSERT_EQ(approval.exitCode, 0) << approval.standardError;
  EXPECT_EQ(approval.standardOutput, "Beaconbar is paired.\n");
  auto paired = pairing.get();
  ASSERT_EQ(paired.exitCode, 0) << paired.standardError;
  EXPECT_NE(paired.standardOutput.find("Pairing request " + ids[0] + " is waiting for an administrator."),
            std::string::npos)
      << paired.standardOutput;
  EXPECT_NE(paired.standardOutput.find("beaconbar-adminctl approve " + ids[0]), std::string::npos);
  EXPECT_NE(paired.standardOutput.find("Paired with the admin daemon"), std::string::npos);

  struct stat token {};
  ASSERT_EQ(::stat(tokenFile().c_str(), &token), 0);
  EXPECT_EQ(token.st_mode & 07777, 0600u);
  EXPECT_EQ(token.st_uid, ::getpwnam(user.c_str())->pw_uid);
  EXPECT_EQ(testing::readText(tokenFile()).size(), 45u);
  EXPECT_NE(beaconbar(user, {"status"}).standardOutput.find("Paired        yes (token in "), std::string::npos);
  EXPECT_EQ(beaconbar(user, {"pair"}).exitCode, 0) << "already paired: nothing is asked";
  EXPECT_TRUE(pendingOnceThereAre(0, user).empty());

  ASSERT_EQ(servicesJson(user)["services"][0]["enabled"], true);
  auto off = beaconbar(user, {"service", "off", "SVC"});
  EXPECT_EQ(off.standardOutput, "Service SVC switched off.\n") << off.standardError;
  EXPECT_EQ(servicesJson(user)["services"][0]["enabled"], false);
  auto unknown = beaconbar(user, {"service", "on", "NOPE"});
  EXPECT_TRUE(isOneErrorLine(unknown, "beaconbar"));
  EXPECT_NE(unknown.standardError.find("no network service with that id"), std::string::npos);

  auto unpaired = beaconbar(user, {"unpair"});
  EXPECT_EQ(unpaired.exitCode, 0) << unpaired.standardError;
  EXPECT_FALSE(std::filesystem::exists(tokenFile()));
  EXPECT_NE(beaconbar(user, {"status"}).standardOutput.find("Paired        no"), std::string::npos);

  // A denial reaches the waiting tool as such.
  auto second = pairInBackground(user);
  ids = pendingOnceThereAre(1, user);
  ASSERT_EQ(ids.size(), 1u);
  auto denied = adminctl(user, {"deny", ids[0]});
  EXPECT_EQ(denied.standardOutput, "Request " + ids[0] + " denied.\n") << denied.standardError;
  auto refused = second.get();
  EXPECT_TRUE(isOneErrorLine(refused, "beaconbar"));
  EXPECT_NE(refused.standardError.find("denied by the administrator"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(tokenFile()));

  auto revoked = adminctl(user, {"unpair-all"});
  EXPECT_EQ(revoked.standardOutput, "All pairings removed.\n") << revoked.standardError;
}

TEST_F(PairingEndToEnd, AnAdministratorWithoutTheRightCannotApprove) {
  if (!polkitAvailable()) GTEST_SKIP() << "needs polkitd and its test users; run scripts/test.sh";
  ASSERT_TRUE(daemon_->start());
  const std::string user = "bcn-polkit-no";
  giveConfigurationHomeTo(user);
  auto pairing = pairInBackground(user);
  auto ids = pendingOnceThereAre(1, user);
  ASSERT_EQ(ids.size(), 1u);
  auto refused = adminctl(user, {"approve", ids[0]});
  EXPECT_TRUE(isOneErrorLine(refused, "beaconbar-adminctl"));
  EXPECT_NE(refused.standardError.find("authorization was refused"), std::string::npos) << refused.standardError;
  EXPECT_EQ(pendingOnceThereAre(1, user), ids) << "the request is still waiting";
  ASSERT_EQ(adminctl(user, {"deny", ids[0]}).exitCode, 0);
  EXPECT_EQ(pairing.get().exitCode, 1);
}

}  // namespace
}  // namespace bcn
