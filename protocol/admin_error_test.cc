#include "protocol/admin_error.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace bcn {
namespace {

TEST(AdminError, OnlyRawValuesOneToSevenConstruct) {
  for (std::int64_t raw : {0LL, 8LL, -1LL, -4LL, 1LL << 40}) EXPECT_EQ(adminErrorFromRawValue(raw), std::nullopt) << raw;
  EXPECT_EQ(adminErrorFromRawValue(1), AdminError::notPaired);
  EXPECT_EQ(adminErrorFromRawValue(7), AdminError::alreadyPending);
  for (std::int64_t raw = 1; raw <= 7; ++raw) EXPECT_EQ(rawValue(*adminErrorFromRawValue(raw)), raw);
}

TEST(AdminError, TravelsAsAPlatformError) {
  const std::pair<AdminError, std::string_view> expected[] = {
      {AdminError::notPaired, "This app isn't paired with the admin helper"},
      {AdminError::unknownService, "No such network service"},
      {AdminError::unknownRequest, "The pairing request has expired"},
      {AdminError::authorizationFailed, "Administrator authorization failed"},
      {AdminError::wrongUser, "The pairing request belongs to another user"},
      {AdminError::configurationFailed, "macOS refused the network configuration change"},
      {AdminError::alreadyPending, "A pairing request is already waiting for approval"},
  };
  for (const auto& [error, text] : expected) {
    const PlatformError wire = toPlatformError(error);
    EXPECT_EQ(wire.domain, "com.quillbank.Beaconbar.admin");
    EXPECT_EQ(wire.code, rawValue(error));
    EXPECT_EQ(wire.description, text);
    EXPECT_EQ(adminErrorFromPlatformError(wire), error);
  }
}

TEST(AdminError, ForeignErrorsAreNotAdminErrors) {
  EXPECT_EQ(adminErrorFromPlatformError({"NSCocoaErrorDomain", 3, "x"}), std::nullopt);
  EXPECT_EQ(adminErrorFromPlatformError({"com.quillbank.Beaconbar.admin", 9, "x"}), std::nullopt);
}

TEST(AdminError, HashesByCase) {
  std::unordered_set<AdminError> set{AdminError::wrongUser, AdminError::wrongUser, AdminError::notPaired};
  EXPECT_EQ(set.size(), 2u);
}

}  // namespace
}  // namespace bcn
