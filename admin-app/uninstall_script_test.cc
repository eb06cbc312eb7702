// deploy/uninstall.sh against a scratch tree standing for /, with a
// recording systemctl; and the console running a script through pkexec.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <set>
#include <sstream>

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

// What an install and its daemon leave on a machine, in both prefixes.
const std::vector<std::string> kInstalled = {
    "usr/bin/beaconbar",
    "usr/bin/beaconbar-admin",
    "usr/bin/beaconbar-adminctl",
    "usr/bin/beaconbar-codesign-register",
    "usr/libexec/beaconbar-admin/uninstall.sh",
    "usr/libexec/beaconbar-admin/beaconbar-admind",
    "usr/share/polkit-1/actions/com.quillbank.Beaconbar.admin.policy",
    "usr/share/doc/Beaconbar/README.md",
    "usr/share/doc/Beaconbar/docs/cli.md",
    "usr/lib/systemd/system/beaconbar-admin.socket",
    "usr/lib/systemd/system/beaconbar-admin-control.socket",
    "usr/lib/systemd/system/beaconbar-admin.service",
    "etc/systemd/system/beaconbar-admin.service",
    "etc/systemd/system/sockets.target.wants/beaconbar-admin.socket",
    "etc/systemd/system/sockets.target.wants/beaconbar-admin-control.socket",
    "etc/beaconbar/code-identities.plist",
    "etc/beaconbar/network-preferences.plist",
    "etc/beaconbar/network-preferences.plist.lock",
    "var/lib/beaconbar-admin/pairings.plist",
    "run/beaconbar/TEAMID0000.com.quillbank.Beaconbar.admin",
    "usr/local/bin/beaconbar-admin",
    "usr/local/lib/systemd/system/beaconbar-admin-control.socket",
};
const std::vector<std::string> kForeign = {
    "usr/bin/beacon",
    "usr/bin/other-beaconbar",
    "usr/bin/beaconbar-extra",
    "usr/libexec/other/uninstall.sh",
    "usr/share/polkit-1/actions/org.example.policy",
    "usr/share/doc/other/README",
    "usr/lib/systemd/system/other.service",
    "etc/systemd/system/sockets.target.wants/other.socket",
    "var/lib/other/state",
};
const std::string kStopsAndDisablesEveryUnit =
    "stop beaconbar-admin.socket\nstop beaconbar-admin-control.socket\nstop beaconbar-admin.service\n"
    "disable beaconbar-admin.socket\ndisable beaconbar-admin-control.socket\ndisable beaconbar-admin.service\n"
    "daemon-reload\n"
    "reset-failed beaconbar-admin.socket beaconbar-admin-control.socket beaconbar-admin.service\n";

// NetCore's library and headers, the exporter and the tray (with its chart
// renderer): installed by the same build, but products of their own that the
// admin helper's uninstaller leaves in place.
bool isOtherProduct(const std::string& path) {
  for (const char* mark : {"/libnetcore.so", "/include/netcore/", "/cmake/NetCore/", "/pkgconfig/netcore.pc",
                           "/beaconbar-exporter", "/beaconbar-tray", "/beaconbar-chart",
                           "com.quillbank.Beaconbar.Tray"}) {
    if (path.find(mark) != std::string::npos) return true;
  }
  return false;
}

// Every path under `root`, relative, files and directories alike.
std::set<std::string> treeOf(const fs::path& root) {
  std::set<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    paths.insert(fs::relative(entry.path(), root).string());
  }
  return paths;
}

class UninstallScript : public ::testing::Test {
 protected:
  UninstallScript() {
    writeText(dir / "systemctl", "#!/bin/sh\necho \"$*\" >> \"" + (dir / "systemctl.log").string() + "\"\n");
    fs::permissions(dir / "systemctl", fs::perms::owner_all);
    for (const auto& file : kForeign) put(file);
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

// The build's own install into a scratch root, plus what the registry tool
// and the daemon write at run time: afterwards nothing of it is left, and
// the tree is exactly as it was before the install.
TEST_F(UninstallScript, LeavesNothingOfTheInstallManifest) {
  // Directories a Debian system already has; the install only adds to them.
  for (const char* prefix : {"usr", "usr/local"}) {
    for (const char* sub : {"bin", "libexec", "lib/systemd/system", "lib/systemd/user", "share/doc", "share/polkit-1/actions"}) {
      fs::create_directories(root / prefix / sub);
    }
  }
  for (const char* sub : {"etc/systemd/system/sockets.target.wants", "var/lib", "run"}) {
    fs::create_directories(root / sub);
  }
  const std::set<std::string> before = treeOf(root);

  auto install = runProcess({"env", "DESTDIR=" + root.string(), BCN_CMAKE_COMMAND, "--install", BCN_BUILD_DIR},
                            {.timeout = std::chrono::seconds(120)});
  ASSERT_TRUE(install);
  ASSERT_EQ(install->exitCode, 0) << install->standardError;
  std::vector<std::string> manifest;
  std::istringstream lines(readText(fs::path(BCN_BUILD_DIR) / "install_manifest.txt"));
  std::set<std::string> otherProducts;  // and the directories holding them
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    const std::string path = line.starts_with(root.string()) ? line : (root.string() + line);
    if (!isOtherProduct(path)) {
      manifest.push_back(path);
      continue;
    }
    for (fs::path p = fs::relative(path, root); !p.empty() && !before.contains(p.string()); p = p.parent_path()) {
      otherProducts.insert(p.string());
    }
  }
  // The manifest names the daemon, its units and the documents the README
  // links to, so the check below covers them.
  const std::string prefix = root.string() + BCN_INSTALL_PREFIX;
  for (const std::string expected :
       {"/libexec/beaconbar-admin/beaconbar-admind", "/lib/systemd/system/beaconbar-admin-control.socket",
        "/share/doc/Beaconbar/docs/cli.md", "/bin/beaconbar-adminctl"}) {
    EXPECT_NE(std::find(manifest.begin(), manifest.end(), prefix + expected), manifest.end()) << expected;
  }
  put("etc/beaconbar/code-identities.plist");
  put("etc/beaconbar/network-preferences.plist");
  put("etc/beaconbar/network-preferences.plist.lock");
  put("var/lib/beaconbar-admin/pairings.plist");
  put("run/beaconbar/TEAMID0000.com.quillbank.Beaconbar.admin-control");
  fs::create_symlink(prefix + "/lib/systemd/system/beaconbar-admin-control.socket",
                     root / "etc/systemd/system/sockets.target.wants/beaconbar-admin-control.socket");

  ProcessResult result = run();
  EXPECT_EQ(result.exitCode, 0) << result.standardError;
  for (const auto& file : manifest) EXPECT_FALSE(fs::exists(file)) << file;
  std::set<std::string> left = treeOf(root);
  std::vector<std::string> extra;
  // What the install wrote beyond its manifest (the pkg-config file) is
  // known by its name.
  std::erase_if(left, [&](const std::string& path) {
    return otherProducts.contains(path) || isOtherProduct("/" + path) ||
           std::any_of(left.begin(), left.end(), [&](const std::string& inner) {
             return inner.starts_with(path + "/") && isOtherProduct("/" + inner);
           });
  });
  std::set_difference(left.begin(), left.end(), before.begin(), before.end(), std::back_inserter(extra));
  EXPECT_EQ(extra, std::vector<std::string>{});
  EXPECT_EQ(readText(dir / "systemctl.log"), kStopsAndDisablesEveryUnit);
}

TEST_F(UninstallScript, RemovesEverythingInstalledAndNothingElse) {
  for (const auto& file : kInstalled) put(file);
  ProcessResult result = run();
  EXPECT_EQ(result.exitCode, 0) << result.standardError;
  for (const auto& file : kInstalled) EXPECT_FALSE(fs::exists(root / file)) << file;
  for (const auto& file : kForeign) EXPECT_TRUE(fs::exists(root / file)) << file;
  for (const char* gone : {"usr/libexec/beaconbar-admin", "usr/share/doc/Beaconbar", "var/lib/beaconbar-admin",
                           "etc/beaconbar", "run/beaconbar"}) {
    EXPECT_FALSE(fs::exists(root / gone)) << gone;
  }
  EXPECT_EQ(readText(dir / "systemctl.log"), kStopsAndDisablesEveryUnit);
}

TEST_F(UninstallScript, RunningAgainFindsNothingAndSucceeds) {
  for (const auto& file : kInstalled) put(file);
  ASSERT_EQ(run().exitCode, 0);
  ProcessResult again = run();
  EXPECT_EQ(again.exitCode, 0) << again.standardError;
  EXPECT_EQ(again.standardError, "");
}

TEST_F(UninstallScript, KeepsARegistryDirectoryThatHoldsOtherFiles) {
  for (const auto& file : kInstalled) put(file);
  put("etc/beaconbar/other.conf");
  ASSERT_EQ(run().exitCode, 0);
  EXPECT_FALSE(fs::exists(root / "etc/beaconbar/code-identities.plist"));
  EXPECT_FALSE(fs::exists(root / "etc/beaconbar/network-preferences.plist.lock"));
  EXPECT_TRUE(fs::exists(root / "etc/beaconbar/other.conf"));
}

TEST_F(UninstallScript, WhatCannotBeRemovedIsNamedAndFailsTheRun) {
  for (const auto& file : kInstalled) put(file);
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
