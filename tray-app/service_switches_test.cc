#include "tray-app/service_switches.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "admin-app/testing/qt_wait.h"
#include "platform/testing/test_support.h"
#include "tools/beaconbar/token_file.h"
#include "tray-app/testing/canned_machine.h"
#include "tray-app/testing/menu_entries.h"
#include "tray-app/tray_view.h"

namespace bcn::tray {
namespace {

using testing::CannedMachine;
using testing::findEntry;
using testing::kToken;

// Wi-Fi on, Ethernet off and a hidden service, with a token stored.
struct ServicesFixture {
  ServicesFixture() {
    machine.tokenFile = dir / "beaconbar" / "token";
    machine.configuration.services = {
        testing::service("svc-wifi", "Wi-Fi", true),
        testing::service("svc-eth", "Ethernet", false),
        testing::service("svc-hidden", "Hidden", true, true),
    };
  }
  void storeToken() {
    ASSERT_TRUE(cli::prepareTokenDirectory(machine.tokenFile));
    ASSERT_TRUE(cli::writeToken(machine.tokenFile, kToken));
  }
  bcn::testing::TempDir dir;
  CannedMachine machine;
};

TEST(ServiceSwitchesTest, APairedUserSwitchesAServiceThroughTheDaemon) {
  ServicesFixture f;
  f.storeToken();
  TrayModel model(f.machine.sources());
  QMenu menu;
  fillMenu(menu, model, {});
  QAction* wifi = findEntry(menu, "Wi-Fi");
  QAction* ethernet = findEntry(menu, "Ethernet");
  ASSERT_TRUE(wifi && ethernet);
  EXPECT_TRUE(wifi->isCheckable() && wifi->isChecked() && wifi->isEnabled());
  EXPECT_TRUE(ethernet->isCheckable() && !ethernet->isChecked() && ethernet->isEnabled());
  EXPECT_FALSE(findEntry(menu, "Hidden"));
  EXPECT_FALSE(findEntry(menu, "Pair with the admin helper…"));

  // The daemon switches it; the configuration says so afterwards.
  f.machine.configuration.services[1].enabled = true;
  ethernet->trigger();
  EXPECT_EQ(model.serviceSwitches().switching(), "svc-eth");
  fillMenu(menu, model, {});
  EXPECT_TRUE(findEntry(menu, "Ethernet  switching…"));
  EXPECT_FALSE(findEntry(menu, "Wi-Fi")->isEnabled());
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.serviceSwitches().switching().empty(); }));
  EXPECT_EQ(f.machine.daemon.recorded(), (std::vector<std::string>{"switch svc-eth on " + kToken, "closed"}));
  EXPECT_EQ(model.serviceSwitches().problem(), "");
  // Read again at once rather than at the watcher's leisure.
  EXPECT_TRUE(model.configuration().services[1].enabled);
  fillMenu(menu, model, {});
  EXPECT_TRUE(findEntry(menu, "Ethernet")->isChecked());

  findEntry(menu, "Wi-Fi")->trigger();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.serviceSwitches().switching().empty(); }));
  EXPECT_EQ(f.machine.daemon.recorded()[2], "switch svc-wifi off " + kToken);
}

TEST(ServiceSwitchesTest, TheDaemonsRefusalStaysInTheMenuUntilTheNextSwitch) {
  ServicesFixture f;
  f.storeToken();
  f.machine.daemon.switchFailure = "this app is not paired with the admin daemon; run: beaconbar pair";
  TrayModel model(f.machine.sources());
  model.serviceSwitches().setEnabled(f.machine.configuration.services[0], false);
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.serviceSwitches().switching().empty(); }));
  QMenu menu;
  fillMenu(menu, model, {});
  QAction* problem =
      findEntry(menu, "Could not switch Wi-Fi off: this app is not paired with the admin daemon; run: beaconbar pair");
  ASSERT_TRUE(problem);
  EXPECT_FALSE(problem->isEnabled());
  EXPECT_TRUE(findEntry(menu, "Wi-Fi")->isChecked());

  // A daemon that is not running says so in the same place.
  {
    std::lock_guard guard(f.machine.daemon.mutex);
    f.machine.daemon.running = false;
  }
  model.serviceSwitches().setEnabled(f.machine.configuration.services[1], true);
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.serviceSwitches().switching().empty(); }));
  EXPECT_EQ(model.serviceSwitches().problem(),
            "Could not switch Ethernet on: the admin daemon is not running (no socket at /run/beaconbar/app.sock)");

  {
    std::lock_guard guard(f.machine.daemon.mutex);
    f.machine.daemon.running = true;
    f.machine.daemon.switchFailure.reset();
  }
  model.serviceSwitches().setEnabled(f.machine.configuration.services[1], true);
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.serviceSwitches().switching().empty(); }));
  EXPECT_EQ(model.serviceSwitches().problem(), "");
}

TEST(ServiceSwitchesTest, WithoutAUsableTokenTheServicesOnlyShowAndPairingIsOffered) {
  ServicesFixture f;
  TrayModel model(f.machine.sources());
  QMenu menu;
  fillMenu(menu, model, {});
  EXPECT_FALSE(findEntry(menu, "Wi-Fi")->isEnabled());
  EXPECT_TRUE(findEntry(menu, "Wi-Fi")->isChecked());
  ASSERT_TRUE(findEntry(menu, "Pair with the admin helper…"));
  // Nothing reaches the daemon without a token.
  model.serviceSwitches().setEnabled(f.machine.configuration.services[0], false);
  EXPECT_EQ(model.serviceSwitches().switching(), "");

  // A token stored meanwhile by `beaconbar pair` counts from the next opening.
  f.storeToken();
  model.menuOpened();
  fillMenu(menu, model, {});
  EXPECT_TRUE(findEntry(menu, "Wi-Fi")->isEnabled());
  EXPECT_FALSE(findEntry(menu, "Pair with the admin helper…"));

  bcn::testing::writeText(f.machine.tokenFile, "not a token\n");
  model.menuOpened();
  fillMenu(menu, model, {});
  EXPECT_FALSE(findEntry(menu, "Wi-Fi")->isEnabled());
  bool explained = false;
  for (const QAction* action : menu.actions()) {
    explained |= action->text().startsWith("Pairing token not usable: ") &&
                 action->text().contains(QString::fromStdString(f.machine.tokenFile.string()));
  }
  EXPECT_TRUE(explained);
  EXPECT_TRUE(f.machine.daemon.recorded().empty());
}

}  // namespace
}  // namespace bcn::tray
