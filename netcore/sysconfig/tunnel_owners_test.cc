#include "netcore/sysconfig/tunnel_owners.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "netcore/shim/testing/fake_proc_tree.h"
#include "netcore/shim/testing/held_process.h"
#include "netcore/sysconfig/bundle_info.h"
#include "platform/plist_limits.h"
#include "platform/testing/plist_bombs.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

namespace fs = std::filesystem;
using ::bcn::testing::FakeProcTree;
using ::bcn::testing::HeldProcess;
using ::bcn::testing::HoldOptions;
using ::bcn::testing::TempDir;

// Lays out `bundle` with `info` as Contents/Info.plist (XML when `xml`).
void makeBundle(const fs::path& bundle, const PlistDictionary& info, bool xml = false) {
  fs::create_directories(bundle / "Contents" / "MacOS");
  if (xml) {
    testing::writeText(bundle / "Contents" / "Info.plist", *encodeXmlPlist(PlistValue(info)));
  } else {
    const auto bytes = *encodeBinaryPlist(PlistValue(info));
    testing::writeText(bundle / "Contents" / "Info.plist", std::string(bytes.begin(), bytes.end()));
  }
}

class DisplayName : public ::testing::Test {
 protected:
  // As the kernel reports executables: no link on the way to the bundle
  // but those a test makes, wherever the temporary directory is.
  std::string nameFor(const std::string& relative) {
    return TunnelOwners::displayName((fs::canonical(dir_.path()) / relative).string());
  }
  TempDir dir_;
};

TEST_F(DisplayName, PrefersTheBundlesDisplayNameThenItsName) {
  makeBundle(dir_ / "Applications/Foo.app", {{"CFBundleDisplayName", "Foo VPN"}, {"CFBundleName", "Foo"}});
  makeBundle(dir_ / "Applications/Bar.app", {{"CFBundleName", "Bar Tunnel"}}, /*xml=*/true);
  makeBundle(dir_ / "Applications/Num.app", {{"CFBundleDisplayName", 42}, {"CFBundleName", "Numbered"}});
  makeBundle(dir_ / "Applications/Empty.app", {{"CFBundleDisplayName", ""}, {"CFBundleName", "Never"}});
  makeBundle(dir_ / "Applications/Plain.app", {{"CFBundleIdentifier", "com.example.plain"}});
  EXPECT_EQ(nameFor("Applications/Foo.app/Contents/MacOS/Foo"), "Foo VPN");
  EXPECT_EQ(nameFor("Applications/Bar.app/Contents/MacOS/bard"), "Bar Tunnel");
  EXPECT_EQ(nameFor("Applications/Num.app/Contents/MacOS/num"), "Numbered");
  EXPECT_EQ(nameFor("Applications/Empty.app/Contents/MacOS/e"), "");
  EXPECT_EQ(nameFor("Applications/Plain.app/Contents/MacOS/plaind"), "Plain");
}

TEST_F(DisplayName, AttributesHelpersToTheOutermostApplication) {
  makeBundle(dir_ / "Foo.app", {{"CFBundleDisplayName", "Foo VPN"}});
  makeBundle(dir_ / "Foo.app/Contents/Library/SystemExtensions/x.systemextension", {{"CFBundleName", "Ext"}});
  EXPECT_EQ(nameFor("Foo.app/Contents/Library/SystemExtensions/x.systemextension/Contents/MacOS/x"), "Foo VPN");
  EXPECT_EQ(nameFor("Foo.app/Contents/Helpers/Inner.app/Contents/MacOS/inner"), "Foo VPN");
}

TEST_F(DisplayName, OtherwiseTheInnermostBundleNamesIt) {
  const std::string ext = "Library/SystemExtensions/ABC/com.example.vpn.systemextension";
  makeBundle(dir_ / ext, {{"CFBundleIdentifier", "com.example.vpn"}});
  EXPECT_EQ(nameFor(ext + "/Contents/MacOS/com.example.vpn"), "com.example.vpn");
  makeBundle(dir_ / "Svc.xpc", {{"CFBundleName", "Outer"}});
  makeBundle(dir_ / "Svc.xpc/Contents/PlugIns/Share.appex", {{"CFBundleName", "Share Extension"}});
  EXPECT_EQ(nameFor("Svc.xpc/Contents/PlugIns/Share.appex/Contents/MacOS/share"), "Share Extension");
  // A flat bundle keeps its Info.plist at the top.
  fs::create_directories(dir_ / "Flat.xpc");
  testing::writeText(dir_ / "Flat.xpc/Info.plist",
                     *encodeXmlPlist(PlistValue(PlistDictionary{{"CFBundleName", "Flat"}})));
  EXPECT_EQ(nameFor("Flat.xpc/flatd"), "Flat");
}

TEST_F(DisplayName, FallsBackToTheBundleNameWhenItsInfoIsUnusable) {
  fs::create_directories(dir_ / "Garbage.app/Contents");
  testing::writeText(dir_ / "Garbage.app/Contents/Info.plist", "bplist00\xff\xff garbage");
  fs::create_directories(dir_ / "Array.app/Contents");
  testing::writeText(dir_ / "Array.app/Contents/Info.plist", *encodeXmlPlist(PlistValue(PlistArray{"CFBundleName"})));
  fs::create_directories(dir_ / "Huge.app/Contents");
  testing::writeText(dir_ / "Huge.app/Contents/Info.plist", std::string(kMaxBundleInfoBytes + 1, ' '));
  fs::create_directories(dir_ / "NoInfo.app/Contents/MacOS");
  EXPECT_EQ(nameFor("Garbage.app/Contents/MacOS/g"), "Garbage");
  EXPECT_EQ(nameFor("Array.app/Contents/MacOS/a"), "Array");
  EXPECT_EQ(nameFor("Huge.app/Contents/MacOS/h"), "Huge");
  EXPECT_EQ(nameFor("NoInfo.app/Contents/MacOS/n"), "NoInfo");
  EXPECT_EQ(nameFor("Missing.app/Contents/MacOS/m"), "Missing");
}

// The daemon runs this as root for any caller: a user's bundle must not
// be able to make it read, and hand back, names from a file the user could
// not read.
TEST_F(DisplayName, InfoOfAnotherOwnerIsNotBelieved) {
  if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: hands a bundle to another user";
  constexpr uid_t kNobody = 65534;
  makeBundle(dir_ / "Secret.app", {{"CFBundleName", "RootOnly"}});
  ASSERT_EQ(::chmod((dir_ / "Secret.app/Contents/Info.plist").c_str(), 0600), 0);

  // A user's bundle whose Info.plist is a link to root's file.
  fs::create_directories(dir_ / "Evil.app/Contents");
  fs::create_symlink(dir_ / "Secret.app/Contents/Info.plist", dir_ / "Evil.app/Contents/Info.plist");
  ASSERT_EQ(::lchown((dir_ / "Evil.app").c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::lchown((dir_ / "Evil.app/Contents").c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(nameFor("Evil.app/Contents/MacOS/evil"), "Evil");

  // Whose Contents directory is a link into root's bundle.
  fs::create_directories(dir_ / "Sly.app");
  fs::create_directory_symlink(dir_ / "Secret.app/Contents", dir_ / "Sly.app/Contents");
  ASSERT_EQ(::lchown((dir_ / "Sly.app").c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(nameFor("Sly.app/Contents/MacOS/sly"), "Sly");

  // A user's own file in their own bundle is believed.
  makeBundle(dir_ / "Own.app", {{"CFBundleName", "Mine"}});
  for (const char* part : {"Own.app", "Own.app/Contents", "Own.app/Contents/Info.plist"}) {
    ASSERT_EQ(::lchown((dir_ / part).c_str(), kNobody, kNobody), 0);
  }
  EXPECT_EQ(nameFor("Own.app/Contents/MacOS/own"), "Mine");
  // And root's own bundle still names itself.
  EXPECT_EQ(nameFor("Secret.app/Contents/MacOS/secret"), "RootOnly");
}

// Root must not even open what a user's links point at: opening can have
// effects of its own, and is what the owner check came too late for.
TEST_F(DisplayName, LinksOnTheWayToInfoPlistAreNeverFollowed) {
  makeBundle(dir_ / "Real.app", {{"CFBundleName", "Followed"}});
  const fs::path target = dir_ / "Real.app/Contents/Info.plist";
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, target.c_str(), IN_OPEN), 0);

  fs::create_directories(dir_ / "File.app/Contents");
  fs::create_symlink(target, dir_ / "File.app/Contents/Info.plist");
  fs::create_directories(dir_ / "Folder.app");
  fs::create_directory_symlink(dir_ / "Real.app/Contents", dir_ / "Folder.app/Contents");
  fs::create_directory_symlink(dir_ / "Real.app", dir_ / "Whole.app");
  fs::create_directories(dir_ / "Up.app/Contents");
  fs::create_symlink("../../Real.app/Contents/Info.plist", dir_ / "Up.app/Contents/Info.plist");
  fs::create_directory_symlink(dir_.path(), dir_ / "linked");
  EXPECT_EQ(nameFor("File.app/Contents/MacOS/f"), "File");
  EXPECT_EQ(nameFor("Folder.app/Contents/MacOS/f"), "Folder");
  EXPECT_EQ(nameFor("Whole.app/Contents/MacOS/w"), "Whole");
  EXPECT_EQ(nameFor("Up.app/Contents/MacOS/u"), "Up");
  EXPECT_EQ(nameFor("linked/Real.app/Contents/MacOS/r"), "Real") << "a link above the bundle";

  char events[4096];
  EXPECT_LT(::read(watch, events, sizeof events), 0) << "Info.plist was opened through a link";
  EXPECT_EQ(nameFor("Real.app/Contents/MacOS/r"), "Followed");
  EXPECT_GT(::read(watch, events, sizeof events), 0) << "the watch sees a direct read";
  ::close(watch);
}

// A bundle's owner decides what its Info.plist holds: a dictionary that
// names the bundle but hides half a million shared nodes beside the name is
// not decoded, and the folder names the program instead.
TEST_F(DisplayName, InfoPlistBombsAreNotDecoded) {
  testing::BinaryPlistBuilder b;
  std::size_t level = b.integer(1);
  for (int i = 0; i < 18; ++i) level = b.array({level, level});
  const std::size_t top = b.dictionary({b.ascii("CFBundleName"), b.ascii("Padding")}, {b.ascii("Bombed"), level});
  const auto bomb = b.build(top);
  EXPECT_LT(bomb.size(), 300u);
  // Within the limits of files the system keeps: only the budget of an
  // Info.plist refuses it.
  ASSERT_EQ(plist_limits::checkBinary(
                bomb, {PlistLimits::kMaxDepth, PlistBudget::kMaxFileNodes, PlistBudget::kMaxFileExpandedBytes}),
            std::nullopt);
  fs::create_directories(dir_ / "Bomb.app/Contents");
  testing::writeText(dir_ / "Bomb.app/Contents/Info.plist", std::string(bomb.begin(), bomb.end()));
  EXPECT_EQ(nameFor("Bomb.app/Contents/MacOS/b"), "Bomb");

  const auto shared = testing::plist_bombs::sharedDictionaryValues(40, 60'000);
  ASSERT_LT(shared.size(), kMaxBundleInfoBytes);
  fs::create_directories(dir_ / "Wide.app/Contents");
  testing::writeText(dir_ / "Wide.app/Contents/Info.plist", std::string(shared.begin(), shared.end()));
  EXPECT_EQ(nameFor("Wide.app/Contents/MacOS/w"), "Wide");

  // A generous real one is still read.
  PlistDictionary info{{"CFBundleName", "Generous"}};
  for (int i = 0; i < 300; ++i) info.set("NSKey" + std::to_string(i), std::string(100, 'd'));
  makeBundle(dir_ / "Big.app", info, /*xml=*/true);
  EXPECT_EQ(nameFor("Big.app/Contents/MacOS/b"), "Generous");
}

TEST_F(DisplayName, AFifoInPlaceOfInfoPlistDoesNotHang) {
  fs::create_directories(dir_ / "Trap.app/Contents");
  ASSERT_EQ(::mkfifo((dir_ / "Trap.app/Contents/Info.plist").c_str(), 0600), 0);
  const int result = testing::runInChild([&] {
    ::alarm(10);
    return nameFor("Trap.app/Contents/MacOS/trap") == "Trap" ? 0 : 1;
  });
  EXPECT_EQ(result, 0) << "-1 means the read blocked until the alarm";
}

TEST(DisplayNameOfPaths, SystemProgramsAndLoosePathsUseTheFileName) {
  EXPECT_EQ(TunnelOwners::displayName("/usr/sbin/someagent"), "someagent");
  EXPECT_EQ(TunnelOwners::displayName("/usr/lib/Foo.app/Contents/MacOS/foo"), "foo");
  EXPECT_EQ(TunnelOwners::displayName("/System/Applications/VPN.app/Contents/MacOS/vpn"), "vpn");
  EXPECT_EQ(TunnelOwners::displayName("/Library/Apple/Thing.app/Contents/MacOS/thing"), "thing");
  EXPECT_EQ(TunnelOwners::displayName("/lib/systemd/systemd-networkd"), "systemd-networkd");
  EXPECT_EQ(TunnelOwners::displayName("/opt/tools/tunneld"), "tunneld");
  EXPECT_EQ(TunnelOwners::displayName("/opt/tools/"), "tools");
  EXPECT_EQ(TunnelOwners::displayName("tunneld"), "tunneld");
  EXPECT_EQ(TunnelOwners::displayName("/"), "/");
  EXPECT_EQ(TunnelOwners::displayName(""), "");
  // A component that merely contains a bundle suffix is no bundle.
  EXPECT_EQ(TunnelOwners::displayName("/opt/my.apps/x.xpcd/agent"), "agent");
}

// Scans over a process table laid out by the test.
TEST(TunnelOwnersScan, KeysOwnersByInterfaceName) {
  TempDir apps;
  makeBundle(apps / "Foo.app", {{"CFBundleDisplayName", "Foo VPN"}});
  FakeProcTree tree;
  tree.addProcess(10, (apps / "Foo.app/Contents/MacOS/foo").string());
  tree.addTunnel(10, 3, "utun4");
  tree.addTunnel(10, 4, "tailscale0");
  tree.addProcess(11);  // exited, or a kernel thread: no executable link
  tree.addTunnel(11, 5, "wg0");
  tree.addProcess(12, "/usr/sbin/openvpn");
  tree.addDescriptor(12, 6, "/dev/net/tun", "pos:\t0\n");
  const std::string fooPath = (apps / "Foo.app/Contents/MacOS/foo").string();
  EXPECT_EQ(TunnelOwners::scan(tree.root()),
            (std::map<std::string, TunnelOwner>{
                {"tailscale0", {10, "Foo VPN", fooPath}}, {"utun4", {10, "Foo VPN", fooPath}}, {"wg0", {11, "", ""}}}));
}

TEST(TunnelOwnersScan, IsEmptyWithoutTunnelsOrProcessTable) {
  FakeProcTree tree;
  tree.addProcess(1, "/sbin/init");
  tree.addDescriptor(1, 0, "/dev/null", "pos:\t0\n");
  EXPECT_TRUE(TunnelOwners::scan(tree.root()).empty());
  EXPECT_TRUE(TunnelOwners::scan(tree.root() / "nowhere").empty());
}

TEST(TunnelOwnersScan, ConsidersAtMost512Findings) {
  FakeProcTree tree;
  for (int pid = 1; pid <= 6; ++pid) {
    tree.addProcess(pid, "/usr/bin/holder");
    for (int fd = 0; fd < 100; ++fd) tree.addTunnel(pid, fd, "t" + std::to_string(pid * 100 + fd));
  }
  EXPECT_EQ(TunnelOwners::scan(tree.root()).size(), 512u);
}

// Scans of the live process table with real tun interfaces.
class LiveTunnels : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: creates tun interfaces";
    if (!fs::exists("/dev/net/tun")) GTEST_SKIP() << "needs /dev/net/tun";
  }
  // Interface names no concurrent test run uses.
  static std::string unique(const std::string& prefix, const std::string& suffix = "") {
    return prefix + std::to_string(::getpid()) + suffix;
  }
  static HeldProcess hold(const std::string& name, const HoldOptions& options = {}) {
    auto held = HeldProcess::holdTunnel(name, options);
    if (!held) throw std::runtime_error(held.error());
    return std::move(*held);
  }
};

TEST_F(LiveTunnels, ReportsEachTunnelOnceWithTheOwnerFoundLast) {
  const std::string utun = unique("utun", "7"), tun = unique("tun", "42"), wg = unique("bcn-wg");
  const HeldProcess utunHolder = hold(utun);
  HoldOptions forked;
  forked.forkAgain = true;
  const HeldProcess shared = hold(tun, forked);
  const HeldProcess wgHolder = hold(wg);
  const auto idle = HeldProcess::start();
  ASSERT_TRUE(idle.has_value()) << idle.error();
  // A queue that was opened but never attached names no interface.
  const int unattached = ::open("/dev/net/tun", O_RDWR);
  ASSERT_GE(unattached, 0);
  const auto unattachedHolder = HeldProcess::start();
  ::close(unattached);
  ASSERT_TRUE(unattachedHolder.has_value());

  const auto owners = TunnelOwners::scan();
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string selfName = fs::path(self).filename().string();
  ASSERT_TRUE(owners.contains(utun) && owners.contains(tun) && owners.contains(wg));
  EXPECT_EQ(owners.at(utun), (TunnelOwner{utunHolder.pids()[0], selfName, self}));
  // The process table lists ascending pids, so the higher of the two is found last.
  const pid_t later = std::max(shared.pids()[0], shared.pids()[1]);
  EXPECT_EQ(owners.at(tun), (TunnelOwner{later, selfName, self}));
  EXPECT_EQ(owners.at(wg), (TunnelOwner{wgHolder.pids()[0], selfName, self}));
  for (const auto& [name, owner] : owners) {
    EXPECT_NE(owner.pid, idle->pids()[0]) << name;
    EXPECT_NE(owner.pid, unattachedHolder->pids()[0]) << name;
    EXPECT_NE(owner.pid, ::getpid()) << name;
  }
}

TEST_F(LiveTunnels, NamesTheApplicationAroundTheOwningExecutable) {
  TempDir apps;
  makeBundle(apps / "Foo.app", {{"CFBundleDisplayName", "Foo VPN"}, {"CFBundleName", "Foo"}});
  const fs::path agent = apps / "Foo.app/Contents/MacOS/foo-agent";
  fs::copy_file("/bin/sleep", agent);
  const std::string name = unique("bcn-app");
  HoldOptions run;
  run.program = {agent.string(), "600"};
  const HeldProcess holder = hold(name, run);
  const auto owners = TunnelOwners::scan();
  ASSERT_TRUE(owners.contains(name));
  EXPECT_EQ(owners.at(name), (TunnelOwner{holder.pids()[0], "Foo VPN", agent.string()}));
}

TEST_F(LiveTunnels, ProcessesExitingDuringTheWalkDoNotDisturbIt) {
  const std::string stable = unique("bcn-st"), churn = unique("bcn-ch");
  const HeldProcess holder = hold(stable);
  // The churning children inherit a queue of their own tunnel from this
  // process and exit at random moments, some of them mid-walk.
  auto churnFd = testing::openTunnel(churn);
  ASSERT_TRUE(churnFd.has_value()) << churnFd.error();
  std::atomic<bool> stop{false};
  std::thread churner([&] {
    for (unsigned i = 0; !stop; ++i) {
      const pid_t child = ::fork();
      if (child == 0) {
        ::usleep(i % 7 * 300);
        ::_exit(0);
      }
      if (child > 0) ::waitpid(child, nullptr, 0);
    }
  });
  int sawChurn = 0;
  for (int i = 0; i < 200; ++i) {
    const auto owners = TunnelOwners::scan();
    ASSERT_TRUE(owners.contains(stable)) << "scan " << i;
    EXPECT_EQ(owners.at(stable).pid, holder.pids()[0]);
    if (owners.contains(churn)) {
      ++sawChurn;
      EXPECT_GT(owners.at(churn).pid, 0);
    }
  }
  stop = true;
  churner.join();
  ::close(*churnFd);
  EXPECT_EQ(sawChurn, 200) << "this process holds the churn queue throughout";
}

}  // namespace
}  // namespace bcn
