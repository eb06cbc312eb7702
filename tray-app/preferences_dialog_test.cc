#include "tray-app/preferences_dialog.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "platform/testing/test_support.h"
#include "tray-app/testing/canned_machine.h"
#include "tray-app/tray_sources.h"

namespace bcn::tray {
namespace {

using testing::fingerprint;

TrayPreferences::Paths pathsIn(const std::filesystem::path& dir) {
  return {dir / "pins.json", dir / "tray.json", dir / "autostart" / "beaconbar-tray.desktop"};
}

TEST(PreferencesDialogTest, PinningOrderingAndTheSettingsAreSavedFromTheWindow) {
  bcn::testing::TempDir dir;
  TrayPreferences preferences(pathsIn(dir.path()), "[Desktop Entry]\n");
  preferences.load();
  PreferencesDialog dialog(preferences, {fingerprint("key-en0", "en0"), fingerprint("key-wlan0", "wlan0")});
  QSignalSpy saved(&dialog, &PreferencesDialog::saved);
  EXPECT_FALSE(dialog.problem().isVisibleTo(&dialog));
  EXPECT_FALSE(dialog.replaceButton().isVisibleTo(&dialog));
  ASSERT_EQ(dialog.unpinnedBox().count(), 2);

  // Pin wlan0, then en0, then put en0 first.
  dialog.unpinnedBox().setCurrentIndex(1);
  const auto click = [&](const QString& text) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
      if (button->text() == text) return button->click();
    }
    FAIL() << "no button " << text.toStdString();
  };
  click("Pin");
  EXPECT_EQ(dialog.unpinnedBox().count(), 1);
  click("Pin");
  EXPECT_EQ(dialog.unpinnedBox().count(), 0);
  ASSERT_EQ(dialog.pinList().count(), 2);
  EXPECT_EQ(dialog.pinList().currentRow(), 1);
  click("Move up");
  EXPECT_EQ(dialog.pinList().item(0)->text().toStdString(), "en0  (key-en0)");
  EXPECT_EQ(dialog.pinList().currentRow(), 0);
  dialog.unitBox().setCurrentIndex(1);
  dialog.providerBox().setCurrentIndex(dialog.providerBox().findData(QStringLiteral("echoB")));
  dialog.startAtLogin().setChecked(true);
  ASSERT_TRUE(dialog.save());
  EXPECT_EQ(saved.count(), 1);

  auto pins = readPinsFile(dir / "pins.json");
  ASSERT_TRUE(pins) << pins.error();
  ASSERT_EQ(pins->size(), 2u);
  EXPECT_EQ((*pins)[0].name, "en0");
  EXPECT_EQ((*pins)[1].name, "wlan0");
  auto settings = parseSettings(bcn::testing::readText(dir / "tray.json"));
  ASSERT_TRUE(settings) << settings.error();
  EXPECT_EQ(*settings, (TraySettings{RateUnit::bits, "echoB"}));
  EXPECT_EQ(bcn::testing::readText(dir / "autostart" / "beaconbar-tray.desktop"), "[Desktop Entry]\n");
}

TEST(PreferencesDialogTest, ADamagedPinsFileIsShownAndKeptUntilTheUserReplacesIt) {
  bcn::testing::TempDir dir;
  bcn::testing::writeText(dir / "pins.json", "{}");
  TrayPreferences preferences(pathsIn(dir.path()), "[Desktop Entry]\n");
  preferences.load();
  PreferencesDialog dialog(preferences, {fingerprint("key-en0", "en0")});
  QSignalSpy saved(&dialog, &PreferencesDialog::saved);
  EXPECT_TRUE(dialog.problem().isVisibleTo(&dialog));
  EXPECT_TRUE(dialog.problem().text().contains("expected a JSON array"));
  EXPECT_TRUE(dialog.replaceButton().isVisibleTo(&dialog));

  EXPECT_FALSE(dialog.save());
  EXPECT_EQ(saved.count(), 0);
  EXPECT_TRUE(dialog.problem().text().startsWith("the pins were not saved: "));
  EXPECT_EQ(bcn::testing::readText(dir / "pins.json"), "{}");

  dialog.replaceButton().click();
  EXPECT_FALSE(dialog.replaceButton().isVisibleTo(&dialog));
  ASSERT_TRUE(dialog.save());
  EXPECT_EQ(saved.count(), 1);
  EXPECT_EQ(bcn::testing::readText(dir / "pins.json.damaged"), "{}");
  EXPECT_TRUE(readPinsFile(dir / "pins.json"));
}

}  // namespace
}  // namespace bcn::tray
