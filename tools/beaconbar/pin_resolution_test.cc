#include "tools/beaconbar/pin_resolution.h"

#include <gtest/gtest.h>

#include "tools/beaconbar/testing/json_keys.h"
#include "tools/beaconbar/testing/model_fixtures.h"

namespace bcn::cli {
namespace {

using testing::keysOf;

std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(FingerprintTest, KeyIsTheHardwareAddressWhichIsPermanentWhenGloballyUnique) {
  const auto en0 = fingerprintOf(testing::ethernet());
  EXPECT_EQ(en0.key, "00:1c:42:ab:cd:ef");
  EXPECT_EQ(en0.name, "en0");
  EXPECT_EQ(en0.address, "00:1c:42:ab:cd:ef");
  EXPECT_FALSE(en0.title);
  EXPECT_TRUE(en0.permanentAddress);

  // 02:...: locally administered (a veth, a randomised Wi-Fi address).
  const auto en5 = fingerprintOf(testing::downInterface());
  EXPECT_EQ(en5.key, "02:11:22:33:44:55");
  EXPECT_FALSE(en5.permanentAddress);
}

TEST(FingerprintTest, WithoutAUsableHardwareAddressTheNameIsTheKey) {
  for (const InterfaceSnapshot& s : {testing::loopback(), testing::tunnel()}) {
    const auto fingerprint = fingerprintOf(s);
    EXPECT_EQ(fingerprint.key, s.name);
    EXPECT_FALSE(fingerprint.address);
    EXPECT_FALSE(fingerprint.permanentAddress);
  }
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
  std::vector<InterfaceFingerprint> live{fingerprintOf(testing::loopback()), fingerprintOf(testing::ethernet())};
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
