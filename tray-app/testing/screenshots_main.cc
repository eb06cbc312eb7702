// tray-screenshots: renders the tray's menu (two pins, one of them gone,
// with rates, public addresses, a tunnel's owner and services to switch),
// its icon at two rates, the Preferences window and the history window to
// tray-menu.png, tray-icon.png, tray-preferences.png and tray-history.png in
// the given directory. Runs without a display:
//   QT_QPA_PLATFORM=offscreen tray-screenshots docs
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <cstdio>
#include <filesystem>

#include "platform/testing/test_support.h"
#include "tools/beaconbar/token_file.h"
#include "tray-app/preferences_dialog.h"
#include "tray-app/testing/canned_machine.h"
#include "tray-app/testing/history_screenshot.h"
#include "tray-app/tray_view.h"

namespace {

bool save(const QImage& image, const std::filesystem::path& file) {
  if (!image.save(QString::fromStdString(file.string()), "PNG")) {
    std::fprintf(stderr, "tray-screenshots: cannot write %s\n", file.c_str());
    return false;
  }
  std::printf("wrote %s\n", file.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tray-screenshots <output directory>\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  using bcn::tray::testing::fingerprint;
  bcn::tray::testing::CannedMachine machine;
  machine.pins =
      std::vector<bcn::InterfaceFingerprint>{fingerprint("key-utun3", "utun3"), fingerprint("key-wlan0", "wlan0")};
  machine.configuration.primaryIPv4Interface = "en0";
  machine.configuration.primaryIPv6Interface = "en0";
  machine.configuration.services = {
      bcn::tray::testing::service("svc-eth", "Wired connection 1", true),
      bcn::tray::testing::service("svc-vpn", "Office VPN", true),
      bcn::tray::testing::service("svc-wifi", "Home Wi-Fi", false),
  };
  // Paired: the services can be switched.
  bcn::testing::TempDir config;
  machine.tokenFile = config / "beaconbar" / "token";
  if (!bcn::cli::prepareTokenDirectory(machine.tokenFile) ||
      !bcn::cli::writeToken(machine.tokenFile, bcn::tray::testing::kToken)) {
    std::fprintf(stderr, "tray-screenshots: cannot store a token in %s\n", machine.tokenFile.c_str());
    return 1;
  }
  machine.count("en0", 0, 0);
  machine.count("utun3", 0, 0);
  bcn::tray::TrayModel model(machine.sources());
  machine.now += 1;
  machine.count("en0", 2'400'000, 180'000);
  machine.count("utun3", 310'000, 42'000);
  model.tick();
  // The public addresses and the tunnel owners come from worker threads.
  model.menuOpened();
  QElapsedTimer waited;
  waited.start();
  while ((model.publicAddresses().lookingUp() || !model.tunnelOwners().owners()) && waited.elapsed() < 10'000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }

  QMenu menu;
  bcn::tray::fillMenu(menu, model, {});
  menu.resize(menu.sizeHint());
  if (!save(menu.grab().toImage(), out / "tray-menu.png")) return 1;

  // The icon as the panel shows it (22 px), twice the size, at two rates.
  QImage icons(2 * 44 + 12, 44, QImage::Format_ARGB32_Premultiplied);
  icons.fill(QColor(0x30, 0x30, 0x30));
  QPainter painter(&icons);
  const bcn::tray::InterfaceRow* row = model.iconRow();
  painter.drawImage(QRect(0, 0, 44, 44), bcn::tray::drawRateIcon(row, bcn::tray::RateUnit::bytes, 22));
  painter.drawImage(QRect(56, 0, 44, 44), bcn::tray::drawRateIcon(row, bcn::tray::RateUnit::bits, 22));
  painter.end();
  if (!save(icons, out / "tray-icon.png")) return 1;

  // Preferences with the two pins, bits per second and start at login.
  bcn::tray::TrayPreferences preferences({config / "beaconbar" / "pins.json", config / "beaconbar" / "tray.json",
                                          config / "autostart" / "beaconbar-tray.desktop"},
                                         "[Desktop Entry]\n");
  preferences.load();
  for (const auto& pin : *machine.pins) preferences.pin(pin);
  preferences.setRateUnit(bcn::tray::RateUnit::bits);
  preferences.setStartAtLogin(true);
  bcn::tray::PreferencesDialog dialog(preferences, model.liveFingerprints());
  dialog.resize(dialog.sizeHint().expandedTo(QSize(420, 0)));
  if (!save(dialog.grab().toImage(), out / "tray-preferences.png")) return 1;
  return bcn::tray::testing::saveHistoryScreenshot(out) ? 0 : 1;
}
