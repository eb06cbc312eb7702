#include "netcore/sysconfig/tunnel_owner.h"

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

const TunnelOwner kOwner{4242, "Foo VPN", "/opt/Foo.app/Contents/MacOS/foo"};

TEST(TunnelOwnerEncoding, WritesPidNameAndPathInOrder) {
  const PlistDictionary plist = kOwner.toPlist();
  EXPECT_EQ(keysOf(plist), (std::vector<std::string>{"pid", "name", "path"}));
  EXPECT_EQ(plist.find("pid")->int64(), 4242);
  EXPECT_EQ(*plist.find("name")->text(), "Foo VPN");
  EXPECT_EQ(toJson(kOwner).dump(), R"({"pid":4242,"name":"Foo VPN","path":"/opt/Foo.app/Contents/MacOS/foo"})");
}

TEST(TunnelOwnerEncoding, SurvivesBinaryPlistAndJsonText) {
  for (const TunnelOwner& owner : {kOwner, TunnelOwner{-1, "", ""}, TunnelOwner{INT32_MAX, "Café ☕", "/x"}}) {
    const auto bytes = encodeBinaryPlist(PlistValue(owner.toPlist()));
    ASSERT_TRUE(bytes.has_value());
    const auto decoded = decodePlist(*bytes);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(TunnelOwner::fromPlist(*decoded), owner);
    EXPECT_EQ(tunnelOwnerFromJson(Json::parse(toJson(owner).dump())), owner);
  }
}

TEST(TunnelOwnerEncoding, EveryKeyIsRequired) {
  for (const char* key : {"pid", "name", "path"}) {
    PlistDictionary plist = kOwner.toPlist();
    plist.erase(key);
    const auto fromPlist = TunnelOwner::fromPlist(PlistValue(plist));
    ASSERT_FALSE(fromPlist.has_value()) << key;
    EXPECT_EQ(fromPlist.error().domain, PlatformError::kCocoaDomain);
    EXPECT_EQ(fromPlist.error().code, keyed::kValueNotFoundCode);
    EXPECT_NE(fromPlist.error().description.find(key), std::string::npos);

    Json json = toJson(kOwner);
    json.erase(key);
    EXPECT_EQ(tunnelOwnerFromJson(json).error().code, keyed::kValueNotFoundCode) << key;
    json[key] = nullptr;
    EXPECT_EQ(tunnelOwnerFromJson(json).error().code, keyed::kValueNotFoundCode) << key;
  }
}

TEST(TunnelOwnerEncoding, RefusesWrongTypesAndOutOfRangePids) {
  const std::vector<std::pair<const char*, PlistValue>> plistCases = {
      {"pid", PlistValue("4242")},       {"pid", PlistValue(true)},
      {"pid", PlistValue(4242.0)},       {"pid", PlistValue(std::int64_t{INT32_MAX} + 1)},
      {"pid", PlistValue(std::uint64_t{UINT64_MAX})},
      {"pid", PlistValue(std::int64_t{INT32_MIN} - 1)},
      {"name", PlistValue(7)},           {"path", PlistValue(PlistData{0x2f})},
      {"path", PlistValue(PlistArray{})}};
  for (const auto& [key, value] : plistCases) {
    PlistDictionary plist = kOwner.toPlist();
    plist.set(key, value);
    const auto decoded = TunnelOwner::fromPlist(PlistValue(plist));
    ASSERT_FALSE(decoded.has_value()) << key;
    EXPECT_EQ(decoded.error().code, keyed::kCorruptCode) << key;
  }
  for (const char* text : {R"({"pid":"1","name":"a","path":"b"})", R"({"pid":1.5,"name":"a","path":"b"})",
                           R"({"pid":2147483648,"name":"a","path":"b"})", R"({"pid":1,"name":[],"path":"b"})",
                           R"({"pid":1,"name":"a","path":{}})", R"({"pid":1,"name":false,"path":"b"})"}) {
    const auto decoded = tunnelOwnerFromJson(Json::parse(text));
    ASSERT_FALSE(decoded.has_value()) << text;
    EXPECT_EQ(decoded.error().code, keyed::kCorruptCode) << text;
  }
  for (const Json& notObject : {Json::array({1, "a", "b"}), Json("owner"), Json(nullptr)}) {
    EXPECT_FALSE(tunnelOwnerFromJson(notObject).has_value());
  }
  EXPECT_FALSE(TunnelOwner::fromPlist(PlistValue(PlistArray{PlistValue(1)})).has_value());
}

TEST(TunnelOwnerValue, EqualityAndHashCoverEveryField) {
  std::unordered_set<TunnelOwner> set{kOwner};
  EXPECT_TRUE(set.contains(TunnelOwner{4242, "Foo VPN", "/opt/Foo.app/Contents/MacOS/foo"}));
  EXPECT_EQ(std::hash<TunnelOwner>{}(kOwner), std::hash<TunnelOwner>{}(TunnelOwner(kOwner)));
  TunnelOwner otherPid = kOwner, otherName = kOwner, otherPath = kOwner;
  otherPid.pid = 4243;
  otherName.name = "Foo";
  otherPath.path = "/opt/foo";
  for (const TunnelOwner& other : {otherPid, otherName, otherPath}) {
    EXPECT_NE(other, kOwner);
    EXPECT_FALSE(set.contains(other));
  }
  // Fields order the values in declaration order.
  EXPECT_LT((TunnelOwner{1, "z", "z"}), (TunnelOwner{2, "a", "a"}));
}

}  // namespace
}  // namespace bcn
