#include "tools/beaconbar/pin_resolution.h"

#include <gtest/gtest.h>

#include "tools/beaconbar/testing/json_keys.h"
#include "tools/beaconbar/testing/model_fixtures.h"

namespace bcn::cli {
namespace {

using testing::keysOf;

std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

LinkIdentity port(std::vector<std::uint8_t> permanent) { return {"", true, LinkAddress{std::move(permanent), 6}}; }

LinkIdentity virtualLink(std::string kind) { return {std::move(kind), false, std::nullopt}; }

InterfaceFingerprint keyed(const InterfaceSnapshot& snapshot, const LinkIdentity& identity) {
  return fingerprintOf(snapshot, &identity);
}

TEST(FingerprintTest, APhysicalPortIsKeyedByItsPermanentAddress) {
  const auto en0 = keyed(testing::ethernet(), port({0x00, 0x1c, 0x42, 0xab, 0xcd, 0xef}));
  EXPECT_EQ(en0.key, "00:1c:42:ab:cd:ef");
  EXPECT_EQ(en0.name, "en0");
  EXPECT_EQ(en0.address, "00:1c:42:ab:cd:ef");
  EXPECT_FALSE(en0.title);
  EXPECT_TRUE(en0.permanentAddress);

  // Enslaved to a bond, the port carries the bond's address; its key stays.
  InterfaceSnapshot slave = testing::ethernet();
  slave.linkAddress = LinkAddress{{0x00, 0x16, 0x3e, 0x00, 0x00, 0x01}, 6};
  const auto enslaved = keyed(slave, port({0x00, 0x1c, 0x42, 0xab, 0xcd, 0xef}));
  EXPECT_EQ(enslaved.key, "00:1c:42:ab:cd:ef");
  EXPECT_EQ(enslaved.address, "00:16:3e:00:00:01");
  EXPECT_TRUE(enslaved.permanentAddress);

  // A locally administered permanent address (a virtual machine's NIC) keys
  // the port but is no firm identity.
  const auto local = keyed(testing::ethernet(), port({0x52, 0x54, 0x00, 0x12, 0x34, 0x56}));
  EXPECT_EQ(local.key, "52:54:00:12:34:56");
  EXPECT_FALSE(local.permanentAddress);
}

TEST(FingerprintTest, VirtualLinksSharingAnAddressGetDistinctKeys) {
  InterfaceSnapshot bridge = testing::downInterface();  // 02:11:22:33:44:55
  bridge.name = "br0";
  InterfaceSnapshot member = testing::downInterface();
  member.name = "veth0";
  const auto br0 = keyed(bridge, virtualLink("bridge"));
  const auto veth0 = keyed(member, virtualLink("veth"));
  EXPECT_EQ(br0.key, "bridge:br0");
  EXPECT_EQ(veth0.key, "veth:veth0");
  EXPECT_EQ(br0.address, veth0.address);
  EXPECT_FALSE(br0.permanentAddress);
  EXPECT_FALSE(veth0.permanentAddress);
  // The same link read again keys the same.
  EXPECT_EQ(keyed(bridge, virtualLink("bridge")), br0);

  // A permanent address reported for a virtual link (one that took it from
  // the device it was made from) does not make it that device.
  LinkIdentity vlan = virtualLink("vlan");
  vlan.permanentAddress = LinkAddress{{0x00, 0x1c, 0x42, 0xab, 0xcd, 0xef}, 6};
  EXPECT_EQ(keyed(member, vlan).key, "vlan:veth0");
}

TEST(FingerprintTest, WithoutAnIdentityOrPermanentAddressTheNameIsTheKey) {
  for (const InterfaceSnapshot& s : {testing::loopback(), testing::tunnel()}) {
    const auto fingerprint = fingerprintOf(s, nullptr);
    EXPECT_EQ(fingerprint.key, s.name);
    EXPECT_FALSE(fingerprint.address);
    EXPECT_FALSE(fingerprint.permanentAddress);
  }
  const LinkIdentity loopback{};
  EXPECT_EQ(keyed(testing::loopback(), loopback).key, "lo");
  // A port whose driver reports no permanent address, or an unreadable one.
  const auto en0 = keyed(testing::ethernet(), port({}));
  EXPECT_EQ(en0.key, "en0");
  EXPECT_EQ(en0.address, "00:1c:42:ab:cd:ef");
  EXPECT_FALSE(en0.permanentAddress);
  EXPECT_EQ(fingerprintOf(testing::ethernet(), nullptr).key, "en0");
}

TEST(FingerprintTest, GlobalUniqueness) {
  EXPECT_TRUE(isGloballyUnique({{0x00, 0x16, 0x3e, 0x12, 0x34, 0x56}, 6}));
  EXPECT_FALSE(isGloballyUnique({{0x01, 0x00, 0x5e, 0x00, 0x00, 0x01}, 6}));  // multicast
  EXPECT_FALSE(isGloballyUnique({{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}, 6}));  // local
  EXPECT_FALSE(isGloballyUnique({{0, 0, 0, 0, 0, 0}, 6}));
  EXPECT_FALSE(isGloballyUnique({{}, 6}));
}

TEST(PinsFileTest, ReadsAnArrayOfFingerprints) {
  auto pins = parsePins(bytes(R"([{"key":"00:1c:42:ab:cd:ef","name":"en0","permanentAddress":true},
                                  {"key":"lo","name":"lo","title":"Loopback"}])"));
  ASSERT_TRUE(pins) << pins.error();
  ASSERT_EQ(pins->size(), 2u);
  EXPECT_TRUE((*pins)[0].permanentAddress);
  EXPECT_EQ((*pins)[1].title, "Loopback");
  EXPECT_TRUE(parsePins(bytes("[]"))->empty());
}

TEST(PinsFileTest, HostileInputGetsAnErrorNamingTheFault) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "not valid JSON"},
      {"[{\"key\":\"a\",\"name\":\"b\"}", "not valid JSON"},  // truncated
      {"{\"key\":\"a\",\"name\":\"b\"}", "expected a JSON array"},
      {"[{\"key\":\"a\",\"name\":\"b\"},{\"key\":1,\"name\":\"c\"}]", "pin 2: "},
      {"[{\"name\":\"b\"}]", "pin 1: "},
      {"[\"en0\"]", "pin 1: "},
      {"[{\"key\":\"\xff\xfe\",\"name\":\"b\"}]", "not valid JSON"},  // not UTF-8
  };
  for (const auto& [input, expected] : cases) {
    auto pins = parsePins(bytes(input));
    ASSERT_FALSE(pins) << input;
    EXPECT_EQ(pins.error().rfind(expected, 0), 0u) << input << " -> " << pins.error();
  }
  // Deep nesting must neither crash nor be taken for pins.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_FALSE(parsePins(bytes(deep)));
}

TEST(PinResolutionTest, TableAndJson) {
  const LinkIdentity en0{"", true, LinkAddress{{0x00, 0x1c, 0x42, 0xab, 0xcd, 0xef}, 6}};
  std::vector<InterfaceFingerprint> live{fingerprintOf(testing::loopback(), nullptr),
                                         fingerprintOf(testing::ethernet(), &en0)};
  live[1].name = "en7";  // the same adapter, renamed
  std::vector<InterfaceFingerprint> pins{
      {"00:1c:42:ab:cd:ef", "en0", std::nullopt, "00:1c:42:ab:cd:ef", true},
      {"gone", "lo", std::nullopt, std::nullopt, false},
      {"aa:bb:cc:dd:ee:ff", "wlan0", "Wi-Fi", std::nullopt, false},
  };
  const auto resolutions = resolvePins(pins, live);
  ASSERT_EQ(resolutions.size(), 3u);
  EXPECT_EQ(formatPinResolutions(resolutions),
            "PIN    KEY                RESOLVES TO\n"
            "en0    00:1c:42:ab:cd:ef  en7 (pinned as en0)\n"
            "lo     gone               lo\n"
            "Wi-Fi  aa:bb:cc:dd:ee:ff  not present\n");
  const auto json = pinResolutionsJson(resolutions);
  EXPECT_EQ(keysOf(json), std::vector<std::string>{"pins"});
  EXPECT_EQ(keysOf(json["pins"][0]), (std::vector<std::string>{"pin", "live"}));
  EXPECT_EQ(json["pins"][0]["live"]["name"], "en7");
  EXPECT_TRUE(json["pins"][2]["live"].is_null());
  EXPECT_EQ(formatPinResolutions({}), "No pins.\n");
}

}  // namespace
}  // namespace bcn::cli
