#include "client/admin_replies.h"

#include <gtest/gtest.h>

#include "protocol/admin_error.h"

namespace bcn {
namespace {

IpcResult values(PlistDictionary d) { return ipc::ReplyValues{std::move(d), std::nullopt}; }

TEST(AdminReplies, StatusInAnyOrderWithExtraKeys) {
  auto app = decodeStatus(values({{"status", PlistDictionary{{"paired", true}, {"extra", 1}, {"protocol", 1},
                                                             {"version", "0.1.0"}}}}),
                          true);
  ASSERT_TRUE(app);
  EXPECT_EQ(*app, (AdminStatus{"0.1.0", 1, true}));
  auto control = decodeStatus(values({{"status", PlistDictionary{{"version", "0.1.0"}, {"protocol", 1}}}}), false);
  ASSERT_TRUE(control);
  EXPECT_FALSE(control->paired);
  // The app status must say whether the token pairs.
  EXPECT_EQ(decodeStatus(values({{"status", PlistDictionary{{"version", "v"}, {"protocol", 1}}}}), true).error(),
            ipc::replyInvalid());
  EXPECT_FALSE(decodeStatus(values({{"status", PlistDictionary{{"version", 1}, {"protocol", 1}}}}), false));
  EXPECT_FALSE(decodeStatus(values({{"status", PlistDictionary{{"version", "v"}, {"protocol", "1"}}}}), false));
}

TEST(AdminReplies, ErrorsPassThroughAsTheyCame) {
  const PlatformError expired = toPlatformError(AdminError::unknownRequest);
  auto text = decodeText(ipc::ReplyValues{{}, expired});
  ASSERT_FALSE(text);
  EXPECT_EQ(adminErrorFromPlatformError(text.error()), AdminError::unknownRequest);
  EXPECT_EQ(decodeNothing(std::unexpected(ipc::connectionInterrupted())).error(), ipc::connectionInterrupted());
  EXPECT_TRUE(decodeNothing(values({})));
  EXPECT_EQ(decodeText(values({})).error(), ipc::replyInvalid());
}

TEST(AdminReplies, TunnelOwnersAndPendingPairings) {
  auto owners = decodeTunnelOwners(values(
      {{"items", PlistArray{PlistDictionary{{"interface", "tun0"}, {"name", "vpn"}, {"pid", 42}, {"path", "/x"}}}}}));
  ASSERT_TRUE(owners);
  EXPECT_EQ(*owners, (std::vector<TunnelOwnerEntry>{{"tun0", "vpn", 42, "/x"}}));
  EXPECT_FALSE(decodeTunnelOwners(values(
      {{"items", PlistArray{PlistDictionary{{"interface", "tun0"}, {"name", "vpn"}, {"pid", 1LL << 40}, {"path", "/x"}}}}})));
  EXPECT_FALSE(decodeTunnelOwners(values({{"items", PlistArray{"tun0"}}})));
  EXPECT_TRUE(decodeTunnelOwners(values({{"items", PlistArray{}}}))->empty());

  auto pending = decodePendingPairings(
      values({{"items", PlistArray{PlistDictionary{{"created", Date{5}}, {"id", "A"}}}}}));
  ASSERT_TRUE(pending);
  EXPECT_EQ(*pending, (std::vector<PendingPairing>{{"A", Date{5}}}));
  EXPECT_FALSE(decodePendingPairings(values({{"items", PlistArray{PlistDictionary{{"id", "A"}, {"created", 5}}}}})));
}

}  // namespace
}  // namespace bcn
