#include "protocol/admin_methods.h"

#include <gtest/gtest.h>

#include <vector>

namespace bcn {
namespace {

std::vector<std::string_view> selectors(const ServiceProtocol& protocol) {
  std::vector<std::string_view> out;
  for (const auto& m : protocol.methods) out.push_back(m.selector);
  return out;
}

TEST(MethodTables, SelectorsInDeclarationOrder) {
  EXPECT_EQ(selectors(adminAppProtocol()),
            (std::vector<std::string_view>{"statusWithToken:reply:", "beginPairingWithReply:",
                                           "awaitPairingWithRequestID:reply:",
                                           "setServiceEnabledWithServiceID:enabled:token:reply:",
                                           "unpairWithToken:reply:", "tunnelOwnersWithReply:"}));
  EXPECT_EQ(selectors(adminControlProtocol()),
            (std::vector<std::string_view>{"statusWithReply:", "pendingPairingsWithReply:",
                                           "approvePairingWithRequestID:authorization:reply:",
                                           "denyPairingWithRequestID:reply:",
                                           "unpairAllWithAuthorization:reply:"}));
}

TEST(MethodTables, ArgumentsCheckPresenceAndKind) {
  const MethodSpec* status = adminAppProtocol().find("statusWithToken:reply:");
  ASSERT_NE(status, nullptr);
  ASSERT_EQ(status->arguments.size(), 1u);
  const PlistValue token("abc");
  const PlistValue number(3);
  EXPECT_TRUE(status->arguments[0].accepts(nullptr)) << "the status token may be absent";
  EXPECT_TRUE(status->arguments[0].accepts(&token));
  EXPECT_FALSE(status->arguments[0].accepts(&number));

  const MethodSpec* setService = adminAppProtocol().find("setServiceEnabledWithServiceID:enabled:token:reply:");
  ASSERT_NE(setService, nullptr);
  ASSERT_EQ(setService->arguments.size(), 3u);
  const PlistValue yes(true);
  EXPECT_TRUE(setService->arguments[1].accepts(&yes));
  EXPECT_FALSE(setService->arguments[1].accepts(&token));
  EXPECT_FALSE(setService->arguments[2].accepts(nullptr)) << "a switch needs a token";

  const MethodSpec* approve = adminControlProtocol().find("approvePairingWithRequestID:authorization:reply:");
  ASSERT_NE(approve, nullptr);
  const PlistValue form(PlistData(32, 0));
  EXPECT_TRUE(approve->arguments[1].accepts(&form));
  EXPECT_FALSE(approve->arguments[1].accepts(&token));
}

TEST(MethodTables, OnlyThePairingWaitMayBeHeld) {
  for (const ServiceProtocol* protocol : {&adminAppProtocol(), &adminControlProtocol()}) {
    for (const MethodSpec& method : protocol->methods) {
      EXPECT_EQ(method.replyMayBeHeld, method.selector == "awaitPairingWithRequestID:reply:")
          << method.selector;
      for (const WireSlot& slot : method.reply) {
        if (slot.kind == WireKind::error) {
          EXPECT_TRUE(slot.optional) << "an error slot is empty on success: " << method.selector;
        }
      }
    }
  }
}

TEST(MethodTables, UnknownSelectorsAreNotFound) {
  EXPECT_EQ(adminAppProtocol().find("statusWithReply:"), nullptr) << "belongs to the control service";
  EXPECT_EQ(adminControlProtocol().find(""), nullptr);
}

}  // namespace
}  // namespace bcn
