// deploy/uninstall.sh against a scratch tree standing for /, with a
// recording systemctl; and the console running a script through pkexec.
#include <gtest/gtest.h>

#include <cstdlib>

#include "admin-app/admin_model.h"
#include "admin-app/helper_uninstaller.h"
#include "platform/authorization/fake_authorization.h"
#include "platform/subprocess.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

namespace fs = std::filesystem;
using bcn::testing::readText;
using bcn::testing::TempDir;
using bcn::testing::writeText;

const std::vector<std::string> kInstalled = {
    "usr/bin/beaconbar",
    "usr/bin/beaconbar-admin",
    "usr/bin/beaconbar-codesign-register",
    "usr/libexec/beaconbar-admin/uninstall.sh",
    "usr/libexec/beaconbar-admin/beaconbar-admind",
    "usr/share/polkit-1/actions/com.quillbank.Beaconbar.admin.policy",
    "usr/lib/systemd/system/beaconbar-admin.socket",
    "usr/lib/systemd/system/beaconbar-admin.service",
    "etc/systemd/system/beaconbar-admin.service",
    "etc/beaconbar/code-identities.plist",
    "var/lib/beaconbar-admin/pairings.plist",
    "usr/local/bin/beaconbar-admin",
};
const std::vector<std::string> kForeign = {
    "usr/bin/beacon",
    "usr/bin/other-beaconbar",
    "usr/libexec/other/uninstall.sh",
    "usr/share/polkit-1/actions/org.example.policy",
    "usr/lib/systemd/system/other.service",
    "var/lib/other/state",
};

class UninstallScript : public ::testing::Test {
 protected:
  UninstallScript() {
    for (const auto& file : kInstalled) put(file);
    for (const auto& file : kForeign) put(file);
    writeText(dir / "systemctl", "#!/bin/sh\necho \"$*\" >> \"" + (dir / "systemctl.log").string() + "\"\n");
    fs::permissions(dir / "systemctl", fs::perms::owner_all);
  }

  void put(const std::string& file) {
    fs::create_directories((root / file).parent_path());
    writeText(root / file, "x");
  }

  ProcessResult run() {
    auto result =
        runProcess({"env", "BEACONBAR_UNINSTALL_ROOT=" + root.string(),
                    "BEACONBAR_SYSTEMCTL=" + (dir / "systemctl").string(), "/bin/sh", BCN_UNINSTALL_SCRIPT_SOURCE});
    EXPECT_TRUE(result);
    return result.value_or(ProcessResult{});
  }

  TempDir dir;
  fs::path root = dir / "root";
};

TEST_F(UninstallScript, RemovesEverythingInstalledAndNothingElse) {
  ProcessResult result = run();
  EXPECT_EQ(result.exitCode, 0) << result.standardError;
  for (const auto& file : kInstalled) EXPECT_FALSE(fs::exists(root / file)) << file;
  for (const auto& file : kForeign) EXPECT_TRUE(fs::exists(root / file)) << file;
  EXPECT_FALSE(fs::exists(root / "usr/libexec/beaconbar-admin"));
  EXPECT_FALSE(fs::exists(root / "var/lib/beaconbar-admin"));
  EXPECT_FALSE(fs::exists(root / "etc/beaconbar"));
  EXPECT_EQ(readText(dir / "systemctl.log"),
            "stop beaconbar-admin.socket\ndisable beaconbar-admin.socket\n"
            "stop beaconbar-admin.service\ndisable beaconbar-admin.service\ndaemon-reload\n");
}

TEST_F(UninstallScript, RunningAgainFindsNothingAndSucceeds) {
  ASSERT_EQ(run().exitCode, 0);
  ProcessResult again = run();
  EXPECT_EQ(again.exitCode, 0) << again.standardError;
  EXPECT_EQ(again.standardError, "");
}

TEST_F(UninstallScript, KeepsARegistryDirectoryThatHoldsOtherFiles) {
  put("etc/beaconbar/other.conf");
  ASSERT_EQ(run().exitCode, 0);
  EXPECT_FALSE(fs::exists(root / "etc/beaconbar/code-identities.plist"));
  EXPECT_TRUE(fs::exists(root / "etc/beaconbar/other.conf"));
}

TEST_F(UninstallScript, WhatCannotBeRemovedIsNamedAndFailsTheRun) {
  const int status = bcn::testing::withReadOnlyDirectory(root / "var/lib", [&] {
    ProcessResult result = run();
    const bool named = result.standardError.find("Could not remove " + (root / "var/lib/beaconbar-admin").string()) !=
                       std::string::npos;
    // The rest is still removed.
    const bool restGone = !fs::exists(root / "usr/bin/beaconbar-admin") && !fs::exists(root / "etc/beaconbar");
    return (result.exitCode == 1 ? 0 : 1) | (named ? 0 : 2) | (restGone ? 0 : 4);
  });
  EXPECT_EQ(status, 0);
}

// The console's own command shape, through the real pkexec: root is allowed
// org.freedesktop.policykit.exec without a dialog once polkitd answers.
TEST(UninstallThroughPkexec, FailureTextReachesTheMessage) {
  if (!bcn::testing::runningAsRoot() || std::getenv("BCN_POLKIT_TEST") == nullptr) {
    GTEST_SKIP() << "needs root and the suite's polkitd (BCN_POLKIT_TEST)";
  }
  TempDir dir;
  writeText(dir / "fails.sh", "echo 'cannot stop beaconbar-admin.socket' >&2\nexit 3\n");
  FakeAuthorizationServices authorization;
  // The follow-up refresh must not reach this machine's daemon.
  AdminModel::ClientFactory nowhere = [path = dir / "none"](ipc::Client::Options options) {
    return AdminControlClient::connect(path, std::move(options));
  };
  AdminModel model(authorization, {nowhere, {{"pkexec", "/bin/sh", (dir / "fails.sh").string()}}});
  model.uninstallHelper();
  EXPECT_EQ(model.message(), QString("Uninstall failed: cannot stop beaconbar-admin.socket"));

  writeText(dir / "works.sh", "exit 0\n");
  AdminModel works(authorization, {nowhere, {{"pkexec", "/bin/sh", (dir / "works.sh").string()}}});
  works.uninstallHelper();
  EXPECT_EQ(works.message(), QString("The admin helper was removed."));
}

}  // namespace
}  // namespace bcn
