#include "protocol/admin_constants.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace bcn {
namespace {

// This program's Info.plist carries BCNTeamID = QB4TEAM123.
TEST(AdminConstants, ServiceNamesComeFromTheTeamIdentifier) {
  EXPECT_EQ(AdminConstants::teamID(), "QB4TEAM123");
  EXPECT_EQ(AdminConstants::appGroup(), "QB4TEAM123.com.quillbank.Beaconbar");
  EXPECT_EQ(AdminConstants::appServiceName(), "QB4TEAM123.com.quillbank.Beaconbar.admin");
  EXPECT_EQ(AdminConstants::controlServiceName(), "QB4TEAM123.com.quillbank.Beaconbar.admin-control");
}

TEST(AdminConstants, FixedIdentifiers) {
  EXPECT_EQ(AdminConstants::appBundleID, "com.quillbank.Beaconbar");
  EXPECT_EQ(AdminConstants::adminAppBundleID, "com.quillbank.Beaconbar.Admin");
  EXPECT_EQ(AdminConstants::daemonIdentifier, "com.quillbank.Beaconbar.admin");
  EXPECT_EQ(AdminConstants::daemonLabel, "com.quillbank.Beaconbar.admin");
  EXPECT_EQ(AdminConstants::pairRight, "com.quillbank.Beaconbar.admin.pair");
  EXPECT_EQ(AdminConstants::protocolVersion, 1);
  EXPECT_EQ(AdminConstants::daemonPlistPath(),
            "/Library/LaunchDaemons/com.quillbank.Beaconbar.admin.plist");
}

TEST(AdminConstants, RequirementTextsAreByteExact) {
  EXPECT_EQ(AdminConstants::appRequirement("ABCDE12345"),
            "(anchor apple generic and certificate leaf[field.1.2.840.113635.100.6.1.9] or "
            "anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] and "
            "certificate leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] "
            "= \"ABCDE12345\") and identifier \"com.quillbank.Beaconbar\"");
  EXPECT_EQ(AdminConstants::adminAppRequirement("ABCDE12345"),
            "anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] and "
            "certificate leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] "
            "= \"ABCDE12345\" and identifier \"com.quillbank.Beaconbar.Admin\"");
}

TEST(AdminConstants, ConcurrentFirstUseSeesOneValue) {
  std::vector<const std::string*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] {
      seen[i] = i % 2 == 0 ? &AdminConstants::controlServiceName() : &AdminConstants::teamID();
    });
  }
  for (auto& t : threads) t.join();
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[i % 2]);
  EXPECT_EQ(*seen[0], "QB4TEAM123.com.quillbank.Beaconbar.admin-control");
}

}  // namespace
}  // namespace bcn
