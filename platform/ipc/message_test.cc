#include "platform/ipc/message.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/ipc/frame.h"
#include "protocol/admin_methods.h"

namespace bcn::ipc {
namespace {

std::vector<std::uint8_t> payloadOf(const std::vector<std::uint8_t>& frame) {
  return {frame.begin() + kFrameHeaderBytes, frame.end()};
}

std::vector<std::uint8_t> plistBytes(const PlistValue& v) { return *encodeBinaryPlist(v); }

TEST(IpcMessages, CallsAndRepliesRoundTripWithAbsentValuesAbsent) {
  CallMessage call{7, "statusWithToken:reply:", {}};
  auto frame = callFrame(call);
  ASSERT_TRUE(frame);
  auto decoded = decodeCall(payloadOf(*frame));
  ASSERT_TRUE(decoded) << decoded.error().description;
  EXPECT_EQ(*decoded, call);
  EXPECT_EQ(decoded->arguments.find("token"), nullptr);

  ReplyMessage reply{UINT64_MAX, {{{"value", "X"}}, PlatformError{"com.example", -3, "broken"}}};
  auto replyBytes = replyFrame(reply);
  ASSERT_TRUE(replyBytes);
  auto back = decodeReply(payloadOf(*replyBytes));
  ASSERT_TRUE(back) << back.error().description;
  EXPECT_EQ(*back, reply);

  auto noError = decodeReply(payloadOf(*replyFrame({1, {{}, std::nullopt}})));
  ASSERT_TRUE(noError);
  EXPECT_FALSE(noError->reply.error.has_value());
}

TEST(IpcMessages, MalformedMessagesAreRefused) {
  const std::vector<PlistValue> badCalls = {
      PlistArray{1, 2},
      PlistDictionary{{"selector", "s"}, {"arguments", PlistDictionary{}}},
      PlistDictionary{{"sequence", -1}, {"selector", "s"}, {"arguments", PlistDictionary{}}},
      PlistDictionary{{"sequence", "1"}, {"selector", "s"}, {"arguments", PlistDictionary{}}},
      PlistDictionary{{"sequence", 1}, {"selector", 5}, {"arguments", PlistDictionary{}}},
      PlistDictionary{{"sequence", 1}, {"selector", "s"}},
      PlistDictionary{{"sequence", 1}, {"selector", "s"}, {"arguments", PlistArray{}}},
  };
  for (const auto& bad : badCalls) EXPECT_FALSE(decodeCall(plistBytes(bad)).has_value());

  const std::vector<PlistValue> badReplies = {
      PlistDictionary{{"sequence", 1}},
      PlistDictionary{{"sequence", 1}, {"values", PlistDictionary{}}, {"error", "oops"}},
      PlistDictionary{{"sequence", 1}, {"values", PlistDictionary{}}, {"error", PlistDictionary{{"domain", "d"}}}},
      PlistDictionary{{"sequence", 1},
                      {"values", PlistDictionary{}},
                      {"error", PlistDictionary{{"domain", "d"}, {"code", "1"}, {"description", "x"}}}},
  };
  for (const auto& bad : badReplies) EXPECT_FALSE(decodeReply(plistBytes(bad)).has_value());

  const std::string notPlist = "definitely not a property list";
  EXPECT_FALSE(decodeCall(std::span(reinterpret_cast<const std::uint8_t*>(notPlist.data()), notPlist.size())));
  EXPECT_FALSE(decodeReply(std::span<const std::uint8_t>()));
}

TEST(IpcMessages, TruncatedAndFlippedCallsNeverCrash) {
  auto frame = callFrame({3,
                          "setServiceEnabledWithServiceID:enabled:token:reply:",
                          {{"serviceID", "S"}, {"enabled", true}, {"token", "T"}}});
  ASSERT_TRUE(frame);
  const auto payload = payloadOf(*frame);
  for (std::size_t n = 0; n < payload.size(); ++n) {
    (void)decodeCall(std::span(payload).first(n));
  }
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    auto copy = payload;
    copy[random() % copy.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
    auto decoded = decodeCall(copy);
    if (decoded) {
      EXPECT_LE(decoded->selector.size(), payload.size());
    }
  }
}

TEST(IpcMessages, OversizedAndUnencodableMessagesFailToEncode) {
  auto big = callFrame({1,
                        "approvePairingWithRequestID:authorization:reply:",
                        {{"requestID", "R"}, {"authorization", PlistData(kMaxFrameBytes, 1)}}});
  ASSERT_FALSE(big);
  EXPECT_EQ(big.error().code, EMSGSIZE);
  EXPECT_FALSE(replyFrame({1, {{{"value", std::string("a\0b", 3)}}, std::nullopt}}));
}

TEST(IpcCallCheck, ArgumentsMustMatchTheMethodTable) {
  const ServiceProtocol& app = adminAppProtocol();
  auto check = [&](std::string selector, PlistDictionary arguments) {
    return checkCall(app, CallMessage{1, std::move(selector), std::move(arguments)});
  };
  const std::string setService = "setServiceEnabledWithServiceID:enabled:token:reply:";
  EXPECT_NE(check("statusWithToken:reply:", {}), nullptr);
  EXPECT_NE(check("statusWithToken:reply:", {{"token", "T"}}), nullptr);
  EXPECT_NE(check(setService, {{"serviceID", "S"}, {"enabled", false}, {"token", "T"}}), nullptr);

  EXPECT_EQ(check("statusWithToken:reply:", {{"token", 5}}), nullptr);
  EXPECT_EQ(check("statusWithToken:reply:", {{"token", "T"}, {"extra", 1}}), nullptr);
  EXPECT_EQ(check(setService, {{"serviceID", "S"}, {"enabled", 1}, {"token", "T"}}), nullptr);
  EXPECT_EQ(check(setService, {{"serviceID", "S"}, {"token", "T"}}), nullptr);
  EXPECT_EQ(check("statusWithReply:", {}), nullptr);  // a control method on the app service
  EXPECT_EQ(check("", {}), nullptr);
  EXPECT_NE(checkCall(adminControlProtocol(), CallMessage{1, "statusWithReply:", {}}), nullptr);
}

TEST(IpcCallCheck, RepliesMustMatchTheMethodTable) {
  const MethodSpec& begin = *adminAppProtocol().find("beginPairingWithReply:");
  const MethodSpec& status = *adminAppProtocol().find("statusWithToken:reply:");
  EXPECT_TRUE(replyFits(begin, {{{"value", "R"}}, std::nullopt}));
  EXPECT_TRUE(replyFits(begin, {{}, PlatformError{"d", 1, "x"}}));
  EXPECT_TRUE(replyFits(begin, {{}, std::nullopt}));
  EXPECT_FALSE(replyFits(begin, {{{"value", 1}}, std::nullopt}));
  EXPECT_FALSE(replyFits(status, {{}, std::nullopt}));
  EXPECT_FALSE(replyFits(status, {{{"status", PlistDictionary{}}, {"error", PlistDictionary{}}}, std::nullopt}));
  EXPECT_TRUE(replyFits(status, {{{"status", PlistDictionary{}}}, std::nullopt}));
}

}  // namespace
}  // namespace bcn::ipc
