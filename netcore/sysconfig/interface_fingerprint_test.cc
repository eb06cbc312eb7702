#include "netcore/sysconfig/interface_fingerprint.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unordered_set>
#include <vector>

#include "netcore/sysconfig/keyed_fields.h"
#include "netcore/sysconfig/keyed_json.h"
#include "platform/testing/plist_keys.h"

namespace bcn {
namespace {

using Json = nlohmann::ordered_json;
using testing::keysOf;

const InterfaceFingerprint kFull{"en0-key", "en0", "Wi-Fi", "aa:bb:cc:dd:ee:ff", true};
const InterfaceFingerprint kBare{"utun3-key", "utun3", std::nullopt, std::nullopt, false};

TEST(InterfaceFingerprintEncoding, WritesOptionalKeysOnlyWhenPresent) {
  EXPECT_EQ(keysOf(kFull.toPlist()),
            (std::vector<std::string>{"key", "name", "title", "address", "permanentAddress"}));
  EXPECT_EQ(keysOf(kBare.toPlist()), (std::vector<std::string>{"key", "name", "permanentAddress"}));
  EXPECT_EQ(kBare.toPlist().find("permanentAddress")->boolean(), false);
  EXPECT_EQ(toJson(kFull).dump(),
            R"({"key":"en0-key","name":"en0","title":"Wi-Fi","address":"aa:bb:cc:dd:ee:ff","permanentAddress":true})");
  EXPECT_EQ(toJson(kBare).dump(), R"({"key":"utun3-key","name":"utun3","permanentAddress":false})");
  // An empty title is still a title.
  InterfaceFingerprint emptyTitle = kBare;
  emptyTitle.title = "";
  EXPECT_EQ(keysOf(emptyTitle.toPlist()), (std::vector<std::string>{"key", "name", "title", "permanentAddress"}));
}

TEST(InterfaceFingerprintEncoding, SurvivesBinaryPlistAndJsonText) {
  InterfaceFingerprint addressOnly = kBare;
  addressOnly.address = "fe80::1";
  for (const InterfaceFingerprint& fingerprint : {kFull, kBare, addressOnly}) {
    const auto bytes = encodeBinaryPlist(PlistValue(fingerprint.toPlist()));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(InterfaceFingerprint::fromPlist(*decodePlist(*bytes)), fingerprint);
    EXPECT_EQ(fingerprintFromJson(Json::parse(toJson(fingerprint).dump())), fingerprint);
  }
}

TEST(InterfaceFingerprintEncoding, MissingOptionalKeysDecodeAsAbsentAndFalse) {
  const PlistDictionary stored{{"key", "k"}, {"name", "en1"}};
  EXPECT_EQ(InterfaceFingerprint::fromPlist(PlistValue(stored)),
            (InterfaceFingerprint{"k", "en1", std::nullopt, std::nullopt, false}));
  EXPECT_EQ(fingerprintFromJson(Json::parse(R"({"name":"en1","key":"k","title":null,"address":null})")),
            (InterfaceFingerprint{"k", "en1", std::nullopt, std::nullopt, false}));
  // Unknown keys are ignored.
  EXPECT_EQ(fingerprintFromJson(Json::parse(R"({"key":"k","name":"n","extra":[1,2]})"))->name, "n");
}

TEST(InterfaceFingerprintEncoding, KeyAndNameAreRequired) {
  for (const char* key : {"key", "name"}) {
    PlistDictionary plist = kFull.toPlist();
    plist.erase(key);
    const auto decoded = InterfaceFingerprint::fromPlist(PlistValue(plist));
    ASSERT_FALSE(decoded.has_value()) << key;
    EXPECT_EQ(decoded.error().code, keyed::kValueNotFoundCode);
    Json json = toJson(kFull);
    json.erase(key);
    EXPECT_EQ(fingerprintFromJson(json).error().code, keyed::kValueNotFoundCode);
  }
}

TEST(InterfaceFingerprintEncoding, RefusesPresentKeysOfTheWrongType) {
  const std::vector<std::pair<const char*, PlistValue>> cases = {
      {"key", PlistValue(1)},           {"name", PlistValue(true)},
      {"title", PlistValue(PlistArray{})}, {"address", PlistValue(PlistData{1, 2})},
      {"permanentAddress", PlistValue(1)}, {"permanentAddress", PlistValue("true")}};
  for (const auto& [key, value] : cases) {
    PlistDictionary plist = kFull.toPlist();
    plist.set(key, value);
    const auto decoded = InterfaceFingerprint::fromPlist(PlistValue(plist));
    ASSERT_FALSE(decoded.has_value()) << key;
    EXPECT_EQ(decoded.error().code, keyed::kCorruptCode) << key;
  }
  for (const char* text : {R"({"key":"k","name":"n","permanentAddress":0})",
                           R"({"key":"k","name":"n","title":5})",
                           R"({"key":"k","name":"n","address":{"v4":"1.2.3.4"}})",
                           R"({"key":["k"],"name":"n"})"}) {
    const auto decoded = fingerprintFromJson(Json::parse(text));
    ASSERT_FALSE(decoded.has_value()) << text;
    EXPECT_EQ(decoded.error().code, keyed::kCorruptCode) << text;
  }
}

TEST(InterfaceFingerprintValue, EqualityAndHashCoverEveryField) {
  std::vector<InterfaceFingerprint> variants(5, kFull);
  variants[0].key = "other";
  variants[1].name = "en9";
  variants[2].title.reset();
  variants[3].address = "00:00:00:00:00:00";
  variants[4].permanentAddress = false;
  std::unordered_set<InterfaceFingerprint> set{kFull};
  EXPECT_TRUE(set.contains(InterfaceFingerprint(kFull)));
  for (const InterfaceFingerprint& variant : variants) {
    EXPECT_NE(variant, kFull);
    EXPECT_FALSE(set.contains(variant)) << toJson(variant).dump();
  }
}

}  // namespace
}  // namespace bcn
