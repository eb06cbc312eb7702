#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "daemon/testing/daemon_fixture.h"
#include "platform/netprefs/default_preferences.h"
#include "platform/netprefs/testing/net_namespace.h"

namespace bcn {
namespace {

using testing::adminError;
using testing::DaemonFixture;

std::string pairedToken(DaemonFixture& f, std::uint32_t uid) {
  const std::string id = f.begin(uid, 1);
  testing::ReplyBox wait;
  f.daemon->awaitPairing(id, 1, wait.reply());
  EXPECT_TRUE(f.approve(id, uid));
  return wait.only().value_or("");
}

TEST(ServiceSwitch, AnUnpairedCallerNeverOpensThePreferences) {
  DaemonFixture f;
  const std::string token = pairedToken(f, 501);
  const auto lockFile = f.dir.path() / "netprefs" / "network-preferences.plist.lock";
  EXPECT_EQ(adminError(f.daemon->setServiceEnabled("SVC", false, "not a token", 501)), AdminError::notPaired);
  EXPECT_EQ(adminError(f.daemon->setServiceEnabled("SVC", false, token, 502)), AdminError::notPaired)
      << "a token pairs only its own user";
  EXPECT_EQ(adminError(f.daemon->setServiceEnabled("SVC", false, "", 501)), AdminError::notPaired);
  EXPECT_FALSE(std::filesystem::exists(lockFile)) << "no preferences session was opened";
  for (const auto& line : f.log.messages()) EXPECT_EQ(line.find("set service"), std::string::npos) << line;
}

TEST(ServiceSwitch, AnUnknownServiceIsReportedAndNotLogged) {
  DaemonFixture f;
  const std::string token = pairedToken(f, 501);
  std::filesystem::create_directories(f.dir.path() / "netprefs");
  auto result = f.daemon->setServiceEnabled("NO-SUCH-SERVICE", true, token, 501);
  EXPECT_EQ(adminError(result), AdminError::unknownService);
  EXPECT_EQ(result.error().description, "No such network service");
  for (const auto& line : f.log.messages()) EXPECT_EQ(line.find("set service"), std::string::npos) << line;
}

// A daemon without CAP_NET_ADMIN: the user is told the change failed, the
// saved preferences still say the service is on, and the log says why in
// the kernel's words. Runs in a network namespace of its own.
TEST(ServiceSwitch, ASwitchTheKernelRefusesIsLoggedWithTheKernelsReason) {
  if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: creates a network namespace";
  testing::ScopedNetNamespace ns;
  ASSERT_TRUE(ns.ok());
  const std::string link = testing::uniqueLinkName("ds");
  ASSERT_TRUE(testing::addVethPair(link));
  ASSERT_TRUE(testing::runIp({"link", "set", link, "up"}));
  const std::string service = netprefs::stableServiceID(link);
  const int code = testing::runInChild([&] {
    DaemonFixture f;
    const std::string token = pairedToken(f, 501);
    if (!testing::dropNetAdminCapability()) return 10;
    auto result = f.daemon->setServiceEnabled(service, false, token, 501);
    if (adminError(result) != AdminError::configurationFailed) return 11;
    const std::string expected = "uid 501 could not set service " + service + " enabled=false: take link " + link +
                                 " down: Operation not permitted; the saved preferences were restored";
    bool logged = false;
    for (const auto& line : f.log.messages()) {
      logged = logged || line == expected;
      if (line.find(" set service ") != std::string::npos && line.rfind("uid 501 set", 0) == 0) return 12;
    }
    if (!logged) {
      for (const auto& line : f.log.messages()) std::fprintf(stderr, "logged: %s\n", line.c_str());
      return 13;
    }
    auto session = netprefs::NetworkPreferences::create(
        "test", netprefs::PreferencesLocation::inDirectory(f.dir.path() / "netprefs"));
    if (!session || !session->copyService(service) || !session->copyService(service)->enabled) return 14;
    return 0;
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace bcn
