#include "tray-app/public_addresses.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

#include "admin-app/testing/qt_wait.h"
#include "tray-app/network_lookups.h"
#include "tray-app/testing/canned_machine.h"
#include "tray-app/testing/menu_entries.h"
#include "tray-app/tray_view.h"

namespace bcn::tray {
namespace {

using testing::CannedMachine;
using testing::findEntry;

bool lookedUp(const TrayModel& model) {
  return model.publicAddresses().report() && !model.publicAddresses().lookingUp();
}

TEST(PublicAddressesTest, FoundAddressesAreListedAndCopyPutsOneOnTheClipboard) {
  CannedMachine machine;
  TrayModel model(machine.sources());
  TrayView view(model, [] {});
  QMenu& menu = view.menu();
  // Nothing is looked up before the menu first opens.
  bcn::testing::settle(std::chrono::milliseconds(50));
  EXPECT_EQ(machine.lookupCount(), 0u);

  emit menu.aboutToShow();
  EXPECT_TRUE(findEntry(menu, "Looking up the public addresses…"));
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return lookedUp(model); }));
  // Opened again at once: the answer shows, nothing is asked again.
  emit menu.aboutToShow();
  QAction* v4 = findEntry(menu, "Public IPv4: 203.0.113.7");
  QAction* v6 = findEntry(menu, "Public IPv6: 2001:db8::7");
  ASSERT_TRUE(v4 && v4->menu());
  ASSERT_TRUE(v6 && v6->menu());
  ASSERT_EQ(v6->menu()->actions().size(), 1);
  QGuiApplication::clipboard()->setText("before");
  v6->menu()->actions()[0]->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "2001:db8::7");
  v4->menu()->actions()[0]->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "203.0.113.7");
  EXPECT_EQ(machine.lookups, (std::vector<std::string>{"echoA"}));

  // Refilled every second while open, the menu does not gather old submenus.
  for (int i = 0; i < 5; ++i) fillMenu(menu, model, {});
  bcn::testing::settle(std::chrono::milliseconds(20));
  EXPECT_EQ(menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 2);
}

TEST(PublicAddressesTest, AFailedLookupShowsTheLibrarysReasonAndAMissingSideSaysSo) {
  CannedMachine machine;
  machine.publicAddresses.result = {{}, {}, "could not connect to the server"};
  TrayModel model(machine.sources());
  QMenu menu;
  model.menuOpened();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return lookedUp(model); }));
  fillMenu(menu, model, {});
  EXPECT_TRUE(findEntry(menu, "Public addresses unavailable: could not connect to the server"));
  EXPECT_FALSE(findEntry(menu, "Public IPv4: unavailable"));

  // Only IPv4 answered: the IPv6 side reads unavailable.
  {
    std::lock_guard guard(machine.mutex);
    machine.publicAddresses.result = {"198.51.100.4", {}, {}};
  }
  model.publicAddresses().refresh();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return lookedUp(model) && !model.publicAddresses().report()->failed(); }));
  fillMenu(menu, model, {});
  EXPECT_TRUE(findEntry(menu, "Public IPv4: 198.51.100.4"));
  QAction* v6 = findEntry(menu, "Public IPv6: unavailable");
  ASSERT_TRUE(v6);
  EXPECT_FALSE(v6->isEnabled());
  EXPECT_FALSE(findEntry(menu, "Public addresses unavailable: could not connect to the server"));
}

TEST(PublicAddressesTest, OpeningTheMenuLooksUpAtMostEveryTenMinutes) {
  CannedMachine machine;
  TrayModel model(machine.sources());
  model.menuOpened();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return lookedUp(model); }));
  EXPECT_EQ(machine.lookupCount(), 1u);

  machine.now += PublicAddresses::kRefreshSeconds - 1;
  model.menuOpened();
  bcn::testing::settle(std::chrono::milliseconds(50));
  EXPECT_EQ(machine.lookupCount(), 1u);

  machine.now += 1;
  model.menuOpened();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return machine.lookupCount() == 2 && lookedUp(model); }));

  // A clock set back does not hold the addresses for the time it went back.
  machine.now -= 3600;
  model.menuOpened();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return machine.lookupCount() == 3 && lookedUp(model); }));
}

TEST(PublicAddressesTest, RefreshLooksUpAtOnceButNeverTwoAtATime) {
  CannedMachine machine;
  machine.holdLookups = true;
  auto model = std::make_unique<TrayModel>(machine.sources());
  QMenu menu;
  model->menuOpened();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return machine.lookupCount() == 1; }));
  fillMenu(menu, *model, {});
  QAction* busy = findEntry(menu, "Looking up the public addresses…");
  ASSERT_TRUE(busy);
  EXPECT_FALSE(busy->isEnabled());
  EXPECT_FALSE(findEntry(menu, "Refresh public addresses"));
  model->publicAddresses().refresh();
  model->menuOpened();
  bcn::testing::settle(std::chrono::milliseconds(50));
  EXPECT_EQ(machine.lookupCount(), 1u);

  machine.release();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return lookedUp(*model); }));
  // Within the ten minutes, Refresh still asks again, through the provider
  // chosen meanwhile.
  machine.holdLookups = true;
  model->publicAddresses().setProvider("echoB");
  fillMenu(menu, *model, {});
  QAction* refresh = findEntry(menu, "Refresh public addresses");
  ASSERT_TRUE(refresh);
  refresh->trigger();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return machine.lookupCount() == 2; }));
  EXPECT_EQ(machine.lookups.back(), "echoB");
  // Going away stops the lookup instead of waiting for the network.
  model.reset();
  bcn::testing::settle(std::chrono::milliseconds(50));
}

TEST(PublicAddressesTest, AnUnknownProviderFailsWithTheCommandLinesText) {
  const cli::PublicAddressReport report = lookUpPublicAddresses("echoZ", {});
  EXPECT_TRUE(report.failed());
  EXPECT_EQ(report.result.error, "unknown provider 'echoZ' (use echoA or echoB)");
}

}  // namespace
}  // namespace bcn::tray
