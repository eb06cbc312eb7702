#include <gtest/gtest.h>

#include "protocol/admin_constants.h"

namespace bcn {
namespace {

// This program's Info.plist has no BCNTeamID.
TEST(AdminConstantsFallback, MissingTeamIdentifierUsesTheFallback) {
  EXPECT_EQ(AdminConstants::teamID(), "TEAMID0000");
  EXPECT_EQ(AdminConstants::appServiceName().substr(0, 10), "TEAMID0000");
  EXPECT_EQ(AdminConstants::controlServiceName(), "TEAMID0000.com.quillbank.Beaconbar.admin-control");
  EXPECT_NE(AdminConstants::adminAppRequirement(AdminConstants::teamID())
                .find("leaf[subject.OU] = \"TEAMID0000\""),
            std::string::npos);
}

}  // namespace
}  // namespace bcn
