#include <gtest/gtest.h>

#include <filesystem>

#include "daemon/testing/daemon_fixture.h"

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

}  // namespace
}  // namespace bcn
