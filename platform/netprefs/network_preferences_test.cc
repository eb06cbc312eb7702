#include "platform/netprefs/network_preferences.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "platform/netprefs/default_preferences.h"
#include "platform/netprefs/kernel_links.h"
#include "platform/netprefs/testing/net_namespace.h"
#include "platform/testing/test_support.h"

namespace bcn::netprefs {
namespace {

using bcn::testing::runIp;
using bcn::testing::TempDir;

PlistDictionary twoServices() {
  auto service = [](const std::string& device) {
    return PlistDictionary{{"UserDefinedName", device},
                           {"Interface", PlistDictionary{{"DeviceName", device}, {"Type", "Ethernet"}}}};
  };
  return PlistDictionary{
      {"CurrentSet", "/Sets/S"},
      {"Sets", PlistDictionary{{"S", PlistDictionary{{"Network", PlistDictionary{{"Service", PlistDictionary{
                                                        {"A", PlistDictionary{{"__LINK__", "/NetworkServices/A"}}},
                                                        {"B", PlistDictionary{{"__LINK__", "/NetworkServices/B"}}}}}}}}}}},
      {"NetworkServices", PlistDictionary{{"A", service("devA")}, {"B", service("devB")}}}};
}

void writeDocument(const PreferencesLocation& location, const PlistDictionary& doc) {
  bcn::testing::writeText(location.file, *encodeXmlPlist(doc));
}

bool enabledOnDisk(const PreferencesLocation& location, const std::string& id) {
  auto session = NetworkPreferences::create("test", location);
  return session && session->copyService(id) && session->copyService(id)->enabled;
}

TEST(NetworkPreferencesTest, UnreadableOrMalformedFilesGiveNoSessionAndStayUntouched) {
  TempDir dir;
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir.path());
  for (const std::string& bad : {std::string("bplist00\x01\x02garbage"), std::string("<plist><array/></plist>"),
                                std::string("")}) {
    bcn::testing::writeText(location.file, bad);
    EXPECT_EQ(NetworkPreferences::create("test", location), nullptr);
    EXPECT_EQ(bcn::testing::readText(location.file), bad);
  }
  std::filesystem::remove(location.file);
  std::filesystem::create_directory(location.file);  // a directory where the file should be
  EXPECT_EQ(NetworkPreferences::create("test", location), nullptr);
}

TEST(NetworkPreferencesTest, CommitWritesWhatTheSessionHoldsAndKeepsOtherServices) {
  TempDir dir;
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir.path() / "new" / "dir");
  std::filesystem::create_directories(location.file.parent_path());
  writeDocument(location, twoServices());
  auto session = NetworkPreferences::create("test", location);
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(session->lock(true));
  ASSERT_TRUE(session->setServiceEnabled("A", false));
  EXPECT_TRUE(enabledOnDisk(location, "A"));  // not before the commit
  ASSERT_TRUE(session->commitChanges());
  ASSERT_TRUE(session->unlock());
  EXPECT_FALSE(enabledOnDisk(location, "A"));
  EXPECT_TRUE(enabledOnDisk(location, "B"));
  EXPECT_FALSE(session->setServiceEnabled("nope", false));
  EXPECT_FALSE(session->unlock());
}

TEST(NetworkPreferencesTest, LockIsExclusiveAcrossSessionsAndFreedByUnlockOrDestruction) {
  TempDir dir;
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir.path());
  writeDocument(location, twoServices());
  auto first = NetworkPreferences::create("a", location);
  auto second = NetworkPreferences::create("b", location);
  ASSERT_TRUE(first->lock(false));
  EXPECT_FALSE(first->lock(false));  // already held by this session
  EXPECT_FALSE(second->lock(false));
  ASSERT_TRUE(first->unlock());
  ASSERT_TRUE(second->lock(false));
  second.reset();
  EXPECT_TRUE(first->lock(false));
}

TEST(NetworkPreferencesTest, WaitingLockGetsTheLatestSavedState) {
  TempDir dir;
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir.path());
  writeDocument(location, twoServices());
  auto holder = NetworkPreferences::create("a", location);
  auto waiter = NetworkPreferences::create("b", location);
  ASSERT_TRUE(holder->lock(true));
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    holder->setServiceEnabled("A", false);
    holder->commitChanges();
    holder->unlock();
  });
  ASSERT_TRUE(waiter->lock(true));  // blocks until the holder is done
  other.join();
  // The waiter saw the holder's commit, so its own edit does not undo it.
  EXPECT_FALSE(waiter->copyService("A")->enabled);
  waiter->setServiceEnabled("B", false);
  ASSERT_TRUE(waiter->commitChanges());
  EXPECT_FALSE(enabledOnDisk(location, "A"));
  EXPECT_FALSE(enabledOnDisk(location, "B"));
}

TEST(NetworkPreferencesTest, EditsOnAStaleCopyCannotBeLockedOrCommitted) {
  TempDir dir;
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir.path());
  writeDocument(location, twoServices());
  auto stale = NetworkPreferences::create("a", location);
  auto other = NetworkPreferences::create("b", location);
  other->setServiceEnabled("B", false);
  ASSERT_TRUE(other->commitChanges());  // takes and releases the lock itself
  stale->setServiceEnabled("A", false);
  EXPECT_FALSE(stale->lock(true));
  EXPECT_FALSE(stale->commitChanges());
  EXPECT_TRUE(enabledOnDisk(location, "A"));
  EXPECT_FALSE(enabledOnDisk(location, "B"));
}

TEST(NetworkPreferencesTest, FailedCommitKeepsTheOldFileAndReleasesTheLock) {
  TempDir dir;
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir.path());
  writeDocument(location, twoServices());
  const std::string before = bcn::testing::readText(location.file);
  { ASSERT_TRUE(NetworkPreferences::create("a", location)->lock(false)); }  // lock file exists now
  const int code = bcn::testing::withReadOnlyDirectory(dir.path(), [&] {
    auto session = NetworkPreferences::create("a", location);
    if (!session || !session->lock(true)) return 1;
    session->setServiceEnabled("A", false);
    if (session->commitChanges()) return 2;
    session->unlock();
    auto next = NetworkPreferences::create("b", location);
    return next->lock(false) ? 0 : 3;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(bcn::testing::readText(location.file), before);
}

// Two processes flip their own service an odd number of times each. A
// commit made from a copy read before the other's commit would bring the
// other's service back, and two sessions inside the lock at once would
// both create the marker.
TEST(NetworkPreferencesTest, ConcurrentProcessesAreSerialisedByTheLock) {
  TempDir dir;
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir.path());
  writeDocument(location, twoServices());
  const std::filesystem::path marker = dir.path() / "inside";
  auto worker = [&](const std::string& id) {
    return [&, id] {
      for (int i = 0; i < 15; ++i) {
        auto session = NetworkPreferences::create(id, location);
        if (!session || !session->lock(true)) return 1;
        const int fd = ::open(marker.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        if (fd < 0) return 2;
        ::close(fd);
        const bool enabled = session->copyService(id)->enabled;
        session->setServiceEnabled(id, !enabled);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!session->commitChanges()) return 3;
        std::filesystem::remove(marker);
        session->unlock();
      }
      return 0;
    };
  };
  std::thread a([&] { EXPECT_EQ(bcn::testing::runInChild(worker("A")), 0); });
  std::thread b([&] { EXPECT_EQ(bcn::testing::runInChild(worker("B")), 0); });
  a.join();
  b.join();
  EXPECT_FALSE(enabledOnDisk(location, "A"));
  EXPECT_FALSE(enabledOnDisk(location, "B"));
}

TEST(NetworkPreferencesTest, LocationFollowsTheConfigurationDirectory) {
  const int code = bcn::testing::runInChild([] {
    ::setenv("CONFIGURATION_DIRECTORY", "/srv/conf:/other", 1);
    if (PreferencesLocation::systemDefault().file != "/srv/conf/network-preferences.plist") return 1;
    ::unsetenv("CONFIGURATION_DIRECTORY");
    const auto fallback = PreferencesLocation::systemDefault();
    if (fallback.file != "/etc/beaconbar/network-preferences.plist") return 2;
    return fallback.lockFile.parent_path() == "/etc/beaconbar" ? 0 : 3;
  });
  EXPECT_EQ(code, 0);
}

class NetworkPreferencesKernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: creates a network namespace";
    ASSERT_TRUE(ns_.ok());
    name_ = bcn::testing::uniqueLinkName("np");
    ASSERT_TRUE(bcn::testing::addVethPair(name_));
    ASSERT_TRUE(bcn::testing::runIp({"link", "set", name_, "up"}));
  }

  std::optional<bool> linkUp(const std::string& name) {
    for (const KernelLink& link : readKernelLinks().value_or(std::vector<KernelLink>{})) {
      if (link.name == name) return link.up;
    }
    return std::nullopt;
  }

  bcn::testing::ScopedNetNamespace ns_;
  TempDir dir_;
  std::string name_;
};

TEST_F(NetworkPreferencesKernelTest, WithoutAFileTheKernelLinksFormTheDefaultSet) {
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir_.path() / "etc");
  auto session = NetworkPreferences::create("test", location);
  ASSERT_NE(session, nullptr);
  const auto set = session->copyCurrentSet();
  ASSERT_TRUE(set.has_value());
  ASSERT_EQ(set->services.size(), 2u);  // the veth pair; loopback is left out
  auto byDevice = [&](const std::string& device) {
    for (const PreferencesService& service : set->services) {
      if (underlyingBSDName(*service.interface) == device) return service;
    }
    return PreferencesService{};
  };
  EXPECT_EQ(byDevice(name_).serviceID, stableServiceID(name_));
  EXPECT_EQ(byDevice(name_).name, "Ethernet (" + name_ + ")");
  EXPECT_TRUE(byDevice(name_).enabled);
  EXPECT_FALSE(byDevice(name_ + "p").enabled);  // the peer is down
  EXPECT_EQ(set->serviceOrder->size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(location.file));
  ASSERT_TRUE(session->commitChanges());
  auto reread = NetworkPreferences::create("test", location);
  EXPECT_EQ(reread->document(), session->document());
}

TEST_F(NetworkPreferencesKernelTest, ApplyBringsDevicesDownAndUpAsTheirServicesSay) {
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir_.path());
  auto session = NetworkPreferences::create("test", location);
  const std::string id = stableServiceID(name_);
  ASSERT_TRUE(session->setServiceEnabled(id, false));
  ASSERT_TRUE(session->applyChanges());
  EXPECT_EQ(linkUp(name_), false);
  EXPECT_EQ(linkUp(name_ + "p"), false);
  ASSERT_TRUE(session->setServiceEnabled(id, true));
  ASSERT_TRUE(session->setServiceEnabled(stableServiceID(name_ + "p"), true));
  ASSERT_TRUE(session->applyChanges());
  EXPECT_EQ(linkUp(name_), true);
  EXPECT_EQ(linkUp(name_ + "p"), true);
}

TEST_F(NetworkPreferencesKernelTest, ADeviceStaysUpWhileAnyEnabledServiceUsesIt) {
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir_.path());
  auto service = [&](bool enabled) {
    PlistDictionary s{{"Interface", PlistDictionary{{"DeviceName", name_}, {"Type", "Ethernet"}}}};
    if (!enabled) s.set("__INACTIVE__", 1);
    return s;
  };
  PlistDictionary doc = twoServices();
  doc.set("NetworkServices", PlistDictionary{{"A", service(false)}, {"B", service(false)},
                                             {"C", PlistDictionary{{"Interface", PlistDictionary{
                                                                       {"DeviceName", "absent0"}}}}}});
  writeDocument(location, doc);
  ASSERT_TRUE(runIp({"link", "set", name_, "down"}));
  auto session = NetworkPreferences::create("test", location);
  ASSERT_TRUE(session->setServiceEnabled("A", true));
  ASSERT_TRUE(session->setServiceEnabled("B", true));
  ASSERT_TRUE(session->applyChanges());
  EXPECT_EQ(linkUp(name_), true);
  ASSERT_TRUE(session->setServiceEnabled("A", false));
  ASSERT_TRUE(session->applyChanges());
  EXPECT_EQ(linkUp(name_), true) << "B still uses it";
  ASSERT_TRUE(session->setServiceEnabled("B", false));
  ASSERT_TRUE(session->applyChanges());
  EXPECT_EQ(linkUp(name_), false);
}

// Apply puts into effect what the session changed and nothing else: links
// whose services kept their saved state stay as an administrator set them,
// also when that disagrees with the preferences.
TEST_F(NetworkPreferencesKernelTest, ApplyLeavesDevicesWhoseStateDidNotChange) {
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir_.path());
  const std::string other = bcn::testing::uniqueLinkName("nq");
  ASSERT_TRUE(bcn::testing::addVethPair(other));
  ASSERT_TRUE(runIp({"link", "set", other, "up"}));
  auto session = NetworkPreferences::create("test", location);  // the default set: both links on
  ASSERT_TRUE(session->setServiceEnabled(stableServiceID(other), false));
  ASSERT_TRUE(session->commitChanges());
  ASSERT_TRUE(session->applyChanges());
  ASSERT_EQ(linkUp(other), false);

  ASSERT_TRUE(runIp({"link", "set", other, "up"}));  // by hand, its service still off
  ASSERT_TRUE(runIp({"link", "set", name_ + "p", "up"}));  // by hand, its service off since it was down
  auto next = NetworkPreferences::create("test", location);
  ASSERT_TRUE(next->lock(true));
  ASSERT_TRUE(next->setServiceEnabled(stableServiceID(name_), false));
  ASSERT_TRUE(next->commitChanges());
  ASSERT_TRUE(next->applyChanges());
  EXPECT_EQ(linkUp(name_), false);
  EXPECT_EQ(linkUp(other), true);
  EXPECT_EQ(linkUp(name_ + "p"), true);
  // Nothing changed since: applying again touches nothing.
  ASSERT_TRUE(runIp({"link", "set", name_, "up"}));
  ASSERT_TRUE(next->applyChanges());
  EXPECT_EQ(linkUp(name_), true);
}

// The kernel's refusal comes back with its own words and the link's name,
// and the change stays pending for the next apply.
TEST_F(NetworkPreferencesKernelTest, ARefusedApplyNamesTheLinkAndTheKernelsReason) {
  const PreferencesLocation location = PreferencesLocation::inDirectory(dir_.path());
  const std::string name = name_;
  const int code = bcn::testing::runInChild([&] {
    auto session = NetworkPreferences::create("test", location);
    if (!session || !session->setServiceEnabled(stableServiceID(name), false)) return 10;
    if (!bcn::testing::dropNetAdminCapability()) return 11;
    auto refused = session->applyChanges();
    if (refused) return 12;
    if (refused.error().description != "take link " + name + " down: Operation not permitted") {
      std::fprintf(stderr, "%s\n", refused.error().description.c_str());
      return 13;
    }
    if (refused.error().code != EPERM) return 14;
    return session->applyChanges() ? 15 : 0;  // still to do, so tried again
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(linkUp(name_), true);
}

}  // namespace
}  // namespace bcn::netprefs
