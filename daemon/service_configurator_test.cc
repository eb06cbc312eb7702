#include "daemon/service_configurator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/netprefs/default_preferences.h"
#include "platform/netprefs/kernel_links.h"
#include "platform/netprefs/testing/net_namespace.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using bcn::testing::runIp;
using netprefs::PreferencesLocation;

// Each case runs in a network namespace of its own with two veth pairs
// (both ends up) and a preferences file in a scratch directory holding one
// service per device, plus hidden and odd ones on the first device.
class ServiceConfiguratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: creates a network namespace";
    ASSERT_TRUE(ns_.ok());
    first_ = bcn::testing::uniqueLinkName("sa");
    second_ = bcn::testing::uniqueLinkName("sb");
    for (const std::string& name : {first_, second_}) {
      ASSERT_TRUE(bcn::testing::addVethPair(name));
      ASSERT_TRUE(runIp({"link", "set", name, "up"}));
      ASSERT_TRUE(runIp({"link", "set", name + "p", "up"}));
    }
    auto service = [](const std::string& device, PlistValue hidden) {
      PlistDictionary entity{{"DeviceName", device}, {"Type", "Ethernet"}, {"HiddenConfiguration", hidden}};
      return PlistDictionary{{"UserDefinedName", device}, {"Interface", entity}};
    };
    auto member = [](const std::string& id) { return PlistDictionary{{"__LINK__", "/NetworkServices/" + id}}; };
    const PlistDictionary document{
        {"CurrentSet", "/Sets/S"},
        {"Sets", PlistDictionary{{"S", PlistDictionary{{"Network", PlistDictionary{{"Service", PlistDictionary{
                                                          {"FIRST", member("FIRST")}, {"SECOND", member("SECOND")},
                                                          {"NOTBOOL", member("NOTBOOL")}}}}}}}}},
        {"NetworkServices",
         PlistDictionary{{"FIRST", service(first_, false)},
                         {"SECOND", service(second_, false)},
                         {"HIDDEN", service(second_ + "p", true)},
                         {"NOTBOOL", service(first_ + "p", "YES")}}}};
    bcn::testing::writeText(location_.file, *encodeXmlPlist(document));
  }

  std::optional<bool> linkUp(const std::string& name) {
    for (const netprefs::KernelLink& link : netprefs::readKernelLinks().value_or(std::vector<netprefs::KernelLink>{})) {
      if (link.name == name) return link.up;
    }
    return std::nullopt;
  }

  std::optional<bool> enabledOnDisk(const std::string& id) {
    auto session = netprefs::NetworkPreferences::create("test", location_);
    if (!session || !session->copyService(id)) return std::nullopt;
    return session->copyService(id)->enabled;
  }

  bcn::testing::ScopedNetNamespace ns_;
  bcn::testing::TempDir dir_;
  PreferencesLocation location_ = PreferencesLocation::inDirectory(dir_.path());
  std::string first_;
  std::string second_;
};

TEST_F(ServiceConfiguratorTest, SwitchingOffAndOnTakesTheDeviceDownAndUp) {
  ASSERT_TRUE(ServiceConfigurator::setEnabled("FIRST", false, location_).has_value());
  EXPECT_EQ(enabledOnDisk("FIRST"), false);
  EXPECT_EQ(linkUp(first_), false);
  EXPECT_EQ(linkUp(second_), true);
  // Already off: no special case, still a success.
  ASSERT_TRUE(ServiceConfigurator::setEnabled("FIRST", false, location_).has_value());
  EXPECT_EQ(linkUp(first_), false);
  ASSERT_TRUE(ServiceConfigurator::setEnabled("FIRST", true, location_).has_value());
  EXPECT_EQ(enabledOnDisk("FIRST"), true);
  EXPECT_EQ(linkUp(first_), true);
}

TEST_F(ServiceConfiguratorTest, HiddenMissingAndEmptyIdsAreUnknownServices) {
  const std::string before = bcn::testing::readText(location_.file);
  for (const std::string& id : {std::string("HIDDEN"), std::string("NOPE"), std::string()}) {
    const auto result = ServiceConfigurator::setEnabled(id, false, location_);
    ASSERT_FALSE(result.has_value()) << id;
    EXPECT_EQ(result.error().error, AdminError::unknownService) << id;
    EXPECT_EQ(result.error().reason, "") << id;
  }
  EXPECT_EQ(bcn::testing::readText(location_.file), before);
  EXPECT_EQ(linkUp(second_ + "p"), true);
  // A non-boolean marker does not hide.
  EXPECT_TRUE(ServiceConfigurator::setEnabled("NOTBOOL", false, location_).has_value());
  EXPECT_EQ(enabledOnDisk("NOTBOOL"), false);
  EXPECT_EQ(linkUp(first_ + "p"), false);
}

TEST_F(ServiceConfiguratorTest, IsHiddenReadsTheInterfaceEntity) {
  auto session = netprefs::NetworkPreferences::create("test", location_);
  EXPECT_TRUE(ServiceConfigurator::isHidden(*session, "HIDDEN"));
  EXPECT_FALSE(ServiceConfigurator::isHidden(*session, "FIRST"));
  EXPECT_FALSE(ServiceConfigurator::isHidden(*session, "NOTBOOL"));
  EXPECT_FALSE(ServiceConfigurator::isHidden(*session, "NOPE"));
}

TEST_F(ServiceConfiguratorTest, AFailedCommitIsAConfigurationFailureAndFreesTheLock) {
  ASSERT_TRUE(ServiceConfigurator::setEnabled("SECOND", true, location_).has_value());  // creates the lock file
  const int code = bcn::testing::withReadOnlyDirectory(dir_.path(), [&] {
    const auto result = ServiceConfigurator::setEnabled("FIRST", false, location_);
    if (result || result.error().error != AdminError::configurationFailed) return 1;
    if (result.error().reason.find("not saved") == std::string::npos) return 3;
    auto next = netprefs::NetworkPreferences::create("test", location_);
    return next && next->lock(false) ? 0 : 2;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(enabledOnDisk("FIRST"), true);
  EXPECT_EQ(linkUp(first_), true);  // nothing was applied
  EXPECT_TRUE(ServiceConfigurator::setEnabled("FIRST", false, location_).has_value());
}

TEST_F(ServiceConfiguratorTest, UnreadablePreferencesAreAConfigurationFailureAndStayAsTheyAre) {
  bcn::testing::writeText(location_.file, "<plist><dict><key>CurrentSet</key>");
  const auto result = ServiceConfigurator::setEnabled("FIRST", false, location_);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().error, AdminError::configurationFailed);
  EXPECT_EQ(bcn::testing::readText(location_.file), "<plist><dict><key>CurrentSet</key>");
  EXPECT_EQ(linkUp(first_), true);
}

TEST_F(ServiceConfiguratorTest, WaitsWhileAnotherWriterHoldsThePreferences) {
  auto holder = netprefs::NetworkPreferences::create("other writer", location_);
  ASSERT_TRUE(holder->lock(true));
  std::atomic<bool> done{false};
  std::expected<void, ServiceConfigurator::Failure> result;
  std::thread caller([&] {
    result = ServiceConfigurator::setEnabled("FIRST", false, location_);
    done = true;
  });
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(done.load());
  holder->unlock();
  caller.join();
  EXPECT_TRUE(result.has_value());
  EXPECT_EQ(linkUp(first_), false);
}

// An administrator brought one link up by hand while its service was off,
// and took another down while its service was on; a user then switches a
// third service. Only the switched service's device follows the switch.
TEST_F(ServiceConfiguratorTest, ASwitchLeavesOtherServicesDevicesAsTheyAre) {
  ASSERT_TRUE(ServiceConfigurator::setEnabled("FIRST", false, location_).has_value());
  ASSERT_EQ(linkUp(first_), false);
  ASSERT_TRUE(runIp({"link", "set", first_, "up"}));
  ASSERT_TRUE(runIp({"link", "set", second_, "down"}));

  ASSERT_TRUE(ServiceConfigurator::setEnabled("NOTBOOL", false, location_).has_value());
  EXPECT_EQ(linkUp(first_ + "p"), false);
  EXPECT_EQ(linkUp(first_), true) << "its saved state did not change";
  EXPECT_EQ(linkUp(second_), false) << "its saved state did not change";
  // Switching a service puts its own device where the switch says, even
  // when the file already said so, and still leaves the others alone.
  ASSERT_TRUE(ServiceConfigurator::setEnabled("SECOND", true, location_).has_value());
  EXPECT_EQ(linkUp(second_), true);
  EXPECT_EQ(linkUp(first_), true);
  EXPECT_EQ(linkUp(first_ + "p"), false);
}

// Without CAP_NET_ADMIN the kernel refuses the link change: the caller is
// told why, in the kernel's words, and the saved preferences go back to
// what they said, so they still describe the links.
TEST_F(ServiceConfiguratorTest, ASwitchTheKernelRefusesIsTakenBackAndExplained) {
  const std::string before = bcn::testing::readText(location_.file);
  const std::string expected =
      "take link " + first_ + " down: Operation not permitted; the saved preferences were restored";
  const int code = bcn::testing::runInChild([&] {
    if (!bcn::testing::dropNetAdminCapability()) return 10;
    const auto result = ServiceConfigurator::setEnabled("FIRST", false, location_);
    if (result) return 11;
    if (result.error().error != AdminError::configurationFailed) return 12;
    if (result.error().reason != expected) {
      std::fprintf(stderr, "reason: %s\n", result.error().reason.c_str());
      return 13;
    }
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(linkUp(first_), true);
  EXPECT_EQ(enabledOnDisk("FIRST"), true);
  EXPECT_EQ(bcn::testing::readText(location_.file), before);
  // With the capability the same switch goes through.
  ASSERT_TRUE(ServiceConfigurator::setEnabled("FIRST", false, location_).has_value());
  EXPECT_EQ(linkUp(first_), false);
}

// Two processes flip their own service an odd number of times each; with
// the lock serialising them neither overwrites the other's result.
TEST_F(ServiceConfiguratorTest, TwoProcessesSwitchingAtOnceAreSerialised) {
  auto flipper = [&](const std::string& id) {
    return [&, id] {
      bool enabled = true;
      for (int i = 0; i < 9; ++i) {
        enabled = !enabled;
        if (!ServiceConfigurator::setEnabled(id, enabled, location_)) return 1;
      }
      return 0;
    };
  };
  std::thread a([&] { EXPECT_EQ(bcn::testing::runInChild(flipper("FIRST")), 0); });
  std::thread b([&] { EXPECT_EQ(bcn::testing::runInChild(flipper("SECOND")), 0); });
  a.join();
  b.join();
  EXPECT_EQ(enabledOnDisk("FIRST"), false);
  EXPECT_EQ(enabledOnDisk("SECOND"), false);
  EXPECT_EQ(linkUp(first_), false);
  EXPECT_EQ(linkUp(second_), false);
}

}  // namespace
}  // namespace bcn
