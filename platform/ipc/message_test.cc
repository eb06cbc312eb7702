#include "platform/ipc/message.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/ipc/frame.h"
#include "platform/testing/plist_bombs.h"
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

// The largest value a legitimate caller puts in a slot of `kind`: texts
// as long as a token file may be, forms of a few times their real size.
PlistValue largestLegitimate(WireKind kind) {
  switch (kind) {
    case WireKind::text:
      return std::string(4096, 'T');
    case WireKind::boolean:
      return true;
    case WireKind::integer:
      return UINT64_MAX;
    case WireKind::data:
      return PlistData(1024, 0xA5);
    case WireKind::date:
      return Date{1e9};
    case WireKind::dictionary:
      return PlistDictionary{{"a", 1}, {"b", "two"}};
    case WireKind::array:
      return PlistArray{1, "two"};
    case WireKind::error:
      break;
  }
  return {};
}

// Every method of both tables, called with every slot filled as fully as
// a real caller would, decodes within the call budget.
TEST(IpcBudgets, TheLargestLegitimateCallOfEveryMethodDecodes) {
  for (const ServiceProtocol* protocol : {&adminAppProtocol(), &adminControlProtocol()}) {
    for (const MethodSpec& method : protocol->methods) {
      CallMessage call{UINT64_MAX, std::string(method.selector), {}};
      for (const WireSlot& slot : method.arguments) call.arguments.set(std::string(slot.name), largestLegitimate(slot.kind));
      auto frame = callFrame(call);
      ASSERT_TRUE(frame) << method.selector;
      auto decoded = decodeCall(payloadOf(*frame));
      ASSERT_TRUE(decoded) << method.selector << ": " << decoded.error().description;
      EXPECT_EQ(*decoded, call);
      EXPECT_EQ(checkCall(*protocol, *decoded), &method);
    }
  }
}

// The tunnel list at its longest: 512 owners, with long distinct paths, or
// one program owning them all (its path and name then shared).
TEST(IpcBudgets, TheLargestTunnelListDecodes) {
  for (const bool shared : {false, true}) {
    PlistArray items;
    for (int i = 0; i < 512; ++i) {
      const std::string tag = shared ? "" : std::to_string(i);
      items.emplace_back(PlistDictionary{{"interface", "tun" + std::to_string(i)},
                                         {"name", std::string(shared ? 4000 : 400, 'N') + tag},
                                         {"pid", 4'000'000 + i},
                                         {"path", std::string(shared ? 4000 : 1500, '/') + tag}});
    }
    ReplyMessage reply{9, {{{"items", std::move(items)}}, std::nullopt}};
    auto frame = replyFrame(reply);
    ASSERT_TRUE(frame) << frame.error().description;
    auto decoded = decodeReply(payloadOf(*frame));
    ASSERT_TRUE(decoded) << decoded.error().description;
    EXPECT_EQ(*decoded, reply);
  }
}

// Frames a hostile peer sends: each fits one frame and expands to millions
// of nodes or gigabytes; a call is refused before any of it is built.
TEST(IpcBudgets, ExpansionBombsAreRefusedAsCalls) {
  namespace bombs = bcn::testing::plist_bombs;
  const std::vector<std::uint8_t> refused[] = {
      bombs::nestedPairs(20),                  // a couple of hundred bytes, two million nodes
      bombs::sharedString(500'000, 10'000),    // 510 KB, 5 GB
      bombs::nestedSharedArrays(4, 40, 1000),  // 2.6 M nodes, 2.6 GB
      bombs::sharedDictionaryValues(1000, 500'000),
      bombs::sharedKeys(60'000, 10'000),
      bombs::sharedString(20'000, 1),          // no sharing: just more than a call holds
  };
  for (const auto& bytes : refused) {
    ASSERT_LE(bytes.size(), kMaxFrameBytes);
    auto decoded = decodeCall(bytes);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().domain, PlatformError::corruptData("").domain);
  }
  EXPECT_LT(bombs::nestedPairs(20).size(), 250u);
  // Shapes no call needs, however small: a node count beyond a handful.
  std::string xml = "<plist><array>";
  for (int i = 0; i < 100; ++i) xml += "<true/>";
  xml += "</array></plist>";
  EXPECT_FALSE(decodeCall(std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size())));
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
