#include "tray-app/tray_preferences.h"

#include <gtest/gtest.h>

#include "platform/testing/test_support.h"
#include "tray-app/desktop_entry.h"
#include "tray-app/testing/canned_machine.h"
#include "tray-app/tray_sources.h"

namespace bcn::tray {
namespace {

using testing::fingerprint;

std::vector<std::string> names(const std::vector<InterfaceFingerprint>& fingerprints) {
  std::vector<std::string> result;
  for (const InterfaceFingerprint& f : fingerprints) result.push_back(f.name);
  return result;
}

struct PreferencesFixture {
  TrayPreferences::Paths paths() const {
    return {dir / "config" / "beaconbar" / "pins.json", dir / "config" / "beaconbar" / "tray.json",
            dir / "config" / "autostart" / "beaconbar-tray.desktop"};
  }
  TrayPreferences make() const { return TrayPreferences(paths(), std::string(kDesktopEntry)); }
  bcn::testing::TempDir dir;
  const std::vector<InterfaceFingerprint> live{fingerprint("key-en0", "en0"), fingerprint("key-wlan0", "wlan0"),
                                               fingerprint("key-utun3", "utun3")};
};

TEST(TrayPreferencesTest, PinsInTheirOrderAndTheSettingsSurviveASaveAndALoad) {
  PreferencesFixture f;
  TrayPreferences preferences = f.make();
  preferences.load();
  EXPECT_EQ(preferences.pinsProblem(), "");
  EXPECT_EQ(preferences.settingsProblem(), "");
  EXPECT_EQ(names(preferences.unpinned(f.live)), (std::vector<std::string>{"en0", "wlan0", "utun3"}));

  for (const InterfaceFingerprint& live : f.live) preferences.pin(live);
  preferences.moveUp(2);    // en0 utun3 wlan0
  preferences.moveDown(0);  // utun3 en0 wlan0
  preferences.moveDown(2);  // past the end: nothing
  preferences.unpin(1);     // utun3 wlan0
  preferences.unpin(7);
  EXPECT_EQ(names(preferences.pins()), (std::vector<std::string>{"utun3", "wlan0"}));
  EXPECT_EQ(names(preferences.unpinned(f.live)), (std::vector<std::string>{"en0"}));
  preferences.setRateUnit(RateUnit::bits);
  ASSERT_TRUE(preferences.setProvider("echoB"));
  EXPECT_FALSE(preferences.setProvider("echoZ"));
  EXPECT_EQ(preferences.settings().provider, "echoB");
  ASSERT_TRUE(preferences.save());

  // The model's reader sees the same pins in the same order.
  auto read = readPinsFile(f.paths().pinsFile);
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(*read, preferences.pins());

  TrayPreferences again = f.make();
  again.load();
  EXPECT_EQ(again.pins(), preferences.pins());
  EXPECT_EQ(again.settings(), (TraySettings{RateUnit::bits, "echoB"}));
  EXPECT_FALSE(again.startAtLogin());
  // wlan0 came back as wlan1 with the same identity: still pinned.
  const std::vector<InterfaceFingerprint> renamed{fingerprint("key-en0", "en0"), fingerprint("key-wlan0", "wlan1")};
  EXPECT_EQ(names(again.unpinned(renamed)), (std::vector<std::string>{"en0"}));
}

TEST(TrayPreferencesTest, ADamagedPinsFileIsReportedAndReplacedOnlyWhenTheUserSaysSo) {
  PreferencesFixture f;
  const auto file = f.paths().pinsFile;
  std::filesystem::create_directories(file.parent_path());
  bcn::testing::writeText(file, "[{\"key\": ");
  TrayPreferences preferences = f.make();
  preferences.load();
  EXPECT_EQ(preferences.pinsProblem(), file.string() + ": not valid JSON");
  EXPECT_TRUE(preferences.pins().empty());

  preferences.pin(f.live[0]);
  auto saved = preferences.save();
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error(), "the pins were not saved: " + file.string() + ": not valid JSON");
  EXPECT_EQ(bcn::testing::readText(file), "[{\"key\": ");
  EXPECT_FALSE(std::filesystem::exists(f.paths().settingsFile));

  preferences.replaceDamagedFiles();
  ASSERT_TRUE(preferences.save());
  EXPECT_EQ(bcn::testing::readText(file.string() + ".damaged"), "[{\"key\": ");
  auto read = readPinsFile(file);
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(names(*read), (std::vector<std::string>{"en0"}));
  EXPECT_EQ(preferences.pinsProblem(), "");
}

TEST(TrayPreferencesTest, ADamagedSettingsFileIsNotOverwrittenSilentlyEither) {
  PreferencesFixture f;
  const auto file = f.paths().settingsFile;
  std::filesystem::create_directories(file.parent_path());
  bcn::testing::writeText(file, R"({"rateUnit": "furlongs"})");
  TrayPreferences preferences = f.make();
  preferences.load();
  EXPECT_EQ(preferences.settingsProblem(), file.string() + ": rateUnit: expected \"bytes\" or \"bits\"");
  EXPECT_EQ(preferences.settings(), TraySettings{});
  EXPECT_FALSE(preferences.save());
  EXPECT_EQ(bcn::testing::readText(file), R"({"rateUnit": "furlongs"})");

  EXPECT_EQ(parseSettings(R"({"provider": 3})").error(), "provider: expected a string");
  EXPECT_EQ(parseSettings(R"({"provider": "echoZ"})").error(),
            "provider: unknown provider 'echoZ' (use echoA or echoB)");
  EXPECT_EQ(parseSettings("[]").error(), "expected a JSON object");
  EXPECT_EQ(parseSettings(R"({"rateUnit": "bits", "later": true})"), (TraySettings{RateUnit::bits, "echoA"}));
}

TEST(TrayPreferencesTest, StartAtLoginWritesAndRemovesTheAutostartEntry) {
  PreferencesFixture f;
  const auto entry = f.paths().autostartFile;
  TrayPreferences preferences = f.make();
  preferences.load();
  preferences.setStartAtLogin(true);
  ASSERT_TRUE(preferences.save());
  const std::string written = bcn::testing::readText(entry);
  EXPECT_EQ(written, std::string(kDesktopEntry));
  EXPECT_NE(written.find("\nExec=/"), std::string::npos);
  EXPECT_NE(written.find("beaconbar-tray\n"), std::string::npos);

  TrayPreferences again = f.make();
  again.load();
  EXPECT_TRUE(again.startAtLogin());
  again.setStartAtLogin(false);
  ASSERT_TRUE(again.save());
  EXPECT_FALSE(std::filesystem::exists(entry));
  // Off when already off is fine.
  ASSERT_TRUE(again.save());
}

}  // namespace
}  // namespace bcn::tray
