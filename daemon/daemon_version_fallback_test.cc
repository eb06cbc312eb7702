#include <gtest/gtest.h>

#include "daemon/admin_daemon.h"
#include "protocol/admin_constants.h"

namespace bcn {
namespace {

// This program's Info.plist has neither CFBundleShortVersionString nor
// BCNTeamID.
TEST(DaemonFallbacks, MissingVersionIsZeroAndMissingTeamIsTheFallback) {
  EXPECT_EQ(daemonVersion(), "0");
  EXPECT_EQ(AdminConstants::teamID(), "TEAMID0000");
}

}  // namespace
}  // namespace bcn
