#include <gtest/gtest.h>

#include <unordered_set>

#include "netcore/publicip/lookup_request.h"
#include "netcore/publicip/public_ip_error.h"
#include "netcore/publicip/public_ip_provider.h"
#include "netcore/publicip/public_ip_result.h"

namespace bcn {
namespace {

TEST(PublicIPProvider, ListsTheThreeCasesInOrderWithRawValuesAsIdentity) {
  ASSERT_EQ(PublicIPProvider::allCases.size(), 3u);
  EXPECT_EQ(PublicIPProvider::allCases[0], PublicIPProvider::echoA);
  EXPECT_EQ(PublicIPProvider::allCases[1], PublicIPProvider::echoB);
  EXPECT_EQ(PublicIPProvider::allCases[2], PublicIPProvider::custom);
  EXPECT_EQ(PublicIPProvider::echoA.rawValue(), "echoA");
  EXPECT_EQ(PublicIPProvider::echoB.rawValue(), "echoB");
  EXPECT_EQ(PublicIPProvider::custom.rawValue(), "custom");
  for (const auto& p : PublicIPProvider::allCases) EXPECT_EQ(p.id(), p.rawValue());
  EXPECT_EQ(PublicIPProvider::custom.title(), "Custom URL");
}

TEST(PublicIPProvider, CreationFromRawValueAcceptsOnlyTheListedTexts) {
  EXPECT_EQ(PublicIPProvider::fromRawValue("custom"), PublicIPProvider::custom);
  EXPECT_EQ(PublicIPProvider::fromRawValue("echoB"), PublicIPProvider::echoB);
  for (const char* unknown : {"", "Custom", "echoa", "echoC", "custom ", "ifconfig.co"}) {
    EXPECT_EQ(PublicIPProvider::fromRawValue(unknown), std::nullopt) << unknown;
  }
}

TEST(PublicIPProvider, BuiltInsHaveHttpsURLsEndingInIpAndCustomHasNone) {
  EXPECT_EQ(PublicIPProvider::custom.url(), std::nullopt);
  for (const auto& p : {PublicIPProvider::echoA, PublicIPProvider::echoB}) {
    ASSERT_TRUE(p.url().has_value());
    const auto request = makeLookupRequest(*p.url());
    ASSERT_TRUE(request.has_value()) << *p.url();
    EXPECT_TRUE(request->tls);
    EXPECT_EQ(request->target, "/ip");
    EXPECT_EQ(request->host, p.title());
  }
  EXPECT_NE(PublicIPProvider::echoA.url(), PublicIPProvider::echoB.url());
}

TEST(PublicIPProvider, RoundTripsThroughPlistAndJSONAsItsRawValue) {
  for (const auto& p : PublicIPProvider::allCases) {
    EXPECT_EQ(p.toPlist(), PlistValue(p.rawValue()));
    EXPECT_EQ(PublicIPProvider::fromPlist(p.toPlist()), p);
    EXPECT_EQ(p.toJSON(), "\"" + std::string(p.rawValue()) + "\"");
    EXPECT_EQ(PublicIPProvider::fromJSON(p.toJSON()), p);
    const auto binary = encodeBinaryPlist(p.toPlist());
    ASSERT_TRUE(binary.has_value());
    const auto decoded = decodePlist(*binary);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(PublicIPProvider::fromPlist(*decoded), p);
  }
}

TEST(PublicIPProvider, DecodingRejectsUnknownNamesAndOtherTypes) {
  EXPECT_FALSE(PublicIPProvider::fromPlist(PlistValue("echoC")).has_value());
  EXPECT_FALSE(PublicIPProvider::fromPlist(PlistValue(1)).has_value());
  EXPECT_FALSE(PublicIPProvider::fromPlist(PlistValue(PlistArray{PlistValue("echoA")})).has_value());
  for (const char* json : {"\"echoC\"", "echoA", "[\"echoA\"]", "{\"kind\":\"echoA\"}", "1", "null",
                           "\"echoA", "", "\"echo\\u0041\" x"}) {
    const auto decoded = PublicIPProvider::fromJSON(json);
    ASSERT_FALSE(decoded.has_value()) << json;
    EXPECT_EQ(decoded.error().code, 3840) << json;
  }
  // An escaped spelling of a valid name is that name.
  EXPECT_EQ(PublicIPProvider::fromJSON("\"echo\\u0041\""), PublicIPProvider::echoA);
}

TEST(PublicIPProvider, EqualityAndHashingFollowTheCase) {
  std::unordered_set<PublicIPProvider> set(PublicIPProvider::allCases.begin(),
                                           PublicIPProvider::allCases.end());
  set.insert(PublicIPProvider::echoA);
  EXPECT_EQ(set.size(), 3u);
}

TEST(PublicIPError, DescribesEachCaseWithItsFixedText) {
  EXPECT_EQ(PublicIPError::http(404).description(), "The server answered HTTP 404");
  EXPECT_EQ(PublicIPError::http(0).description(), "The server answered HTTP 0");
  EXPECT_EQ(PublicIPError::badURL().description(), "The lookup URL isn't valid");
  EXPECT_EQ(PublicIPError::malformed().description(), "The server's response couldn't be read");
  EXPECT_EQ(PublicIPError::noAddress().description(), "The response has no IP address");
  EXPECT_NE(PublicIPError::http(404), PublicIPError::http(503));
  EXPECT_NE(std::hash<PublicIPError>{}(PublicIPError::http(404)),
            std::hash<PublicIPError>{}(PublicIPError::http(503)));
}

TEST(PublicIPResult, IsEqualOnlyWhenAllThreeFieldsAre) {
  const PublicIPResult a{"192.0.2.1", std::nullopt, std::nullopt};
  PublicIPResult b = a;
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::hash<PublicIPResult>{}(a), std::hash<PublicIPResult>{}(b));
  b.error = "x";
  EXPECT_NE(a, b);
  // Fields are not interchangeable.
  EXPECT_NE((PublicIPResult{"::1", std::nullopt, std::nullopt}),
            (PublicIPResult{std::nullopt, "::1", std::nullopt}));
}

}  // namespace
}  // namespace bcn
