#include "tray-app/tunnel_owner_list.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "admin-app/testing/qt_wait.h"
#include "tray-app/testing/canned_machine.h"
#include "tray-app/tray_view.h"

namespace bcn::tray {
namespace {

using testing::CannedMachine;

std::vector<std::string> disabledEntries(const QMenu& menu) {
  std::vector<std::string> result;
  for (const QAction* action : menu.actions()) {
    if (!action->isSeparator() && !action->isEnabled()) result.push_back(action->text().toStdString());
  }
  return result;
}

bool contains(const std::vector<std::string>& entries, const std::string& entry) {
  return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

TEST(TunnelOwnerListTest, EachOpeningAsksTheDaemonAgainAndListsTheOwners) {
  CannedMachine machine;
  machine.tunnelOwners = cli::TunnelOwnerMap{{"utun3", TunnelOwner{812, "WireGuard", "/usr/bin/wireguard"}},
                                             {"utun4", TunnelOwner{90, "", ""}}};
  TrayModel model(machine.sources());
  QMenu menu;
  fillMenu(menu, model, {});
  EXPECT_FALSE(contains(disabledEntries(menu), "utun3  WireGuard (pid 812)"));

  model.menuOpened();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.tunnelOwners().owners().has_value(); }));
  fillMenu(menu, model, {});
  const auto shown = disabledEntries(menu);
  EXPECT_TRUE(contains(shown, "utun3  WireGuard (pid 812)"));
  EXPECT_TRUE(contains(shown, "utun4  owner unknown (pid 90)"));

  // The tunnel closed: the next opening no longer lists it.
  {
    std::lock_guard guard(machine.mutex);
    machine.tunnelOwners = cli::TunnelOwnerMap{};
  }
  model.menuOpened();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.tunnelOwners().owners()->value().empty(); }));
  fillMenu(menu, model, {});
  EXPECT_TRUE(contains(disabledEntries(menu), "No tunnel interfaces are open"));
  EXPECT_EQ(machine.tunnelQueries, 2);
}

TEST(TunnelOwnerListTest, WithoutTheDaemonTheOwnersAreUnavailable) {
  CannedMachine machine;
  machine.tunnelOwners = std::unexpected(std::string("not root, and the admin daemon is not running"));
  TrayModel model(machine.sources());
  model.menuOpened();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.tunnelOwners().owners().has_value(); }));
  QMenu menu;
  fillMenu(menu, model, {});
  EXPECT_TRUE(
      contains(disabledEntries(menu), "Tunnel owners unavailable: not root, and the admin daemon is not running"));
}

}  // namespace
}  // namespace bcn::tray
