#include "tray-app/pairing_flow.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QMenu>

#include "admin-app/testing/qt_wait.h"
#include "platform/testing/test_support.h"
#include "tray-app/testing/canned_machine.h"
#include "tray-app/testing/menu_entries.h"
#include "tray-app/tray_view.h"

namespace bcn::tray {
namespace {

using testing::CannedMachine;
using testing::findEntry;
using testing::kToken;
using Stage = PairingFlow::Stage;

// One service to switch, no token yet.
struct PairingFixture {
  PairingFixture() {
    machine.tokenFile = dir / "config" / "beaconbar" / "token";
    machine.configuration.services = {testing::service("svc-eth", "Ethernet", true)};
    model = std::make_unique<TrayModel>(machine.sources());
  }
  // Pairs through the menu's entry and waits until the request is shown.
  void startAndWait() {
    fillMenu(menu, *model, {});
    QAction* pair = findEntry(menu, "Pair with the admin helper…");
    ASSERT_TRUE(pair);
    pair->trigger();
    ASSERT_TRUE(bcn::testing::waitUntil([&] { return model->pairing().stage() == Stage::waiting; }));
    fillMenu(menu, *model, {});
  }
  bcn::testing::TempDir dir;
  CannedMachine machine;
  std::unique_ptr<TrayModel> model;
  QMenu menu;
};

TEST(PairingFlowTest, AnApprovedRequestStoresTheTokenWhereTheCommandLineKeepsIt) {
  PairingFixture f;
  ASSERT_NO_FATAL_FAILURE(f.startAndWait());
  const QAction* waiting = findEntry(f.menu, "Pairing request R-1 is waiting for an administrator");
  ASSERT_TRUE(waiting);
  EXPECT_FALSE(waiting->isEnabled());
  EXPECT_TRUE(findEntry(f.menu, "Cancel pairing"));
  EXPECT_FALSE(findEntry(f.menu, "Pair with the admin helper…"));
  EXPECT_FALSE(std::filesystem::exists(f.machine.tokenFile));

  f.machine.daemon.decide(kToken);
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return f.model->pairing().stage() == Stage::idle; }));
  EXPECT_EQ(f.model->pairing().outcome(), "Paired with the admin helper");
  EXPECT_EQ(bcn::testing::readText(f.machine.tokenFile), kToken + "\n");
  struct stat info {};
  ASSERT_EQ(::stat(f.machine.tokenFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Paired at once: the service can be switched, pairing is not offered.
  EXPECT_TRUE(f.model->serviceSwitches().paired());
  fillMenu(f.menu, *f.model, {});
  EXPECT_TRUE(findEntry(f.menu, "Ethernet")->isEnabled());
  EXPECT_FALSE(findEntry(f.menu, "Pair with the admin helper…"));
  EXPECT_EQ(f.machine.daemon.recorded(), (std::vector<std::string>{"begin", "await R-1", "closed"}));
}

TEST(PairingFlowTest, ADeniedRequestOrAMalformedTokenStoresNothing) {
  PairingFixture f;
  ASSERT_NO_FATAL_FAILURE(f.startAndWait());
  f.machine.daemon.decide(std::unexpected(std::string("the administrator denied the pairing request")));
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return f.model->pairing().stage() == Stage::idle; }));
  fillMenu(f.menu, *f.model, {});
  EXPECT_TRUE(findEntry(f.menu, "Pairing failed: the administrator denied the pairing request"));
  EXPECT_TRUE(findEntry(f.menu, "Pair with the admin helper…"));
  EXPECT_FALSE(std::filesystem::exists(f.machine.tokenFile));

  ASSERT_NO_FATAL_FAILURE(f.startAndWait());
  EXPECT_TRUE(findEntry(f.menu, "Pairing request R-2 is waiting for an administrator"));
  f.machine.daemon.decide(std::string("short"));
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return f.model->pairing().stage() == Stage::idle; }));
  EXPECT_EQ(f.model->pairing().outcome(), "Pairing failed: the admin helper sent a malformed token");
  EXPECT_FALSE(std::filesystem::exists(f.machine.tokenFile));
  EXPECT_FALSE(f.model->serviceSwitches().paired());
}

TEST(PairingFlowTest, CancellingWithdrawsTheRequestAndALateDecisionIsIgnored) {
  PairingFixture f;
  ASSERT_NO_FATAL_FAILURE(f.startAndWait());
  QAction* cancel = findEntry(f.menu, "Cancel pairing");
  ASSERT_TRUE(cancel);
  cancel->trigger();
  EXPECT_EQ(f.model->pairing().stage(), Stage::idle);
  EXPECT_EQ(f.model->pairing().outcome(), "Pairing cancelled; the request was withdrawn");
  // The connection closes, which is what withdraws the request.
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return f.machine.daemon.recorded().back() == "closed"; }));
  f.machine.daemon.decide(kToken);
  bcn::testing::settle(std::chrono::milliseconds(100));
  EXPECT_FALSE(std::filesystem::exists(f.machine.tokenFile));
  EXPECT_EQ(f.model->pairing().outcome(), "Pairing cancelled; the request was withdrawn");

  // Going away while waiting cancels too, without waiting for a decision.
  {
    std::lock_guard guard(f.machine.daemon.mutex);
    f.machine.daemon.decision.reset();
  }
  ASSERT_NO_FATAL_FAILURE(f.startAndWait());
  f.model.reset();
  EXPECT_EQ(f.machine.daemon.recorded().back(), "closed");
  EXPECT_FALSE(std::filesystem::exists(f.machine.tokenFile));
}

TEST(PairingFlowTest, PairingAgainNeedNotWaitForACancelledRequestStillInFlight) {
  PairingFixture f;
  f.machine.daemon.holdBegin = true;
  f.model->pairing().start();
  f.model->pairing().cancel();
  // The first request is still on its way; the second does not wait for it.
  f.model->pairing().start();
  EXPECT_EQ(f.model->pairing().stage(), Stage::requesting);
  EXPECT_TRUE(f.machine.daemon.recorded().empty());
  f.machine.daemon.release();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return f.model->pairing().stage() == Stage::waiting; }));
  bcn::testing::settle(std::chrono::milliseconds(100));
  // Only the second run's request is shown; the first one's went unused.
  EXPECT_EQ(f.model->pairing().stage(), Stage::waiting);
  const std::string shown = f.model->pairing().requestID();
  f.machine.daemon.decide(kToken);
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return f.model->pairing().stage() == Stage::idle; }));
  EXPECT_EQ(f.model->pairing().outcome(), "Paired with the admin helper");
  const auto calls = f.machine.daemon.recorded();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "await " + shown), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "begin"), 2);
}

TEST(PairingFlowTest, WithoutTheDaemonPairingFailsAndSaysWhy) {
  PairingFixture f;
  f.machine.daemon.running = false;
  f.model->pairing().start();
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return f.model->pairing().stage() == Stage::idle; }));
  fillMenu(f.menu, *f.model, {});
  EXPECT_TRUE(
      findEntry(f.menu, "Pairing failed: the admin daemon is not running (no socket at /run/beaconbar/app.sock)"));
  EXPECT_TRUE(findEntry(f.menu, "Pair with the admin helper…"));
}

}  // namespace
}  // namespace bcn::tray
