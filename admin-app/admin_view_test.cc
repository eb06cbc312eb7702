// The window's state as the administrator sees it, read from the widgets.
#include "admin-app/admin_view.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QGuiApplication>
#include <QLocale>
#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "admin-app/admin_app.h"
#include "admin-app/testing/model_fixture.h"
#include "platform/subprocess.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

using testing::CannedControlService;
using testing::kApprove;
using testing::kCreated;
using testing::kDeny;
using testing::kStatus;
using testing::ModelTest;
using testing::settle;
using testing::waitUntil;

class AdminViewTest : public ModelTest {
 protected:
  // Shows `view` (which refreshes) and waits until the replies are applied.
  void showAndWait(AdminView& view) {
    const std::size_t before = daemon.calls().size();
    bool applied = false;
    auto c = QObject::connect(model.get(), &AdminModel::pendingChanged, [&] { applied = true; });
    view.show();
    ASSERT_TRUE(daemon.waitForCalls(before + 2));
    ASSERT_TRUE(waitUntil([&] { return applied; }));
    QObject::disconnect(c);
  }

  std::string lastCallID(const std::string& selector) {
    auto calls = daemon.calls();
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->selector == selector) return *it->arguments.find("requestID")->text();
    }
    return "";
  }
};

TEST_F(AdminViewTest, DaemonNotRunning) {
  model = makeModel(nowhere());
  AdminView view(*model);
  view.show();
  ASSERT_TRUE(waitUntil([&] { return view.emptyText()->isVisible(); }));
  EXPECT_EQ(view.headerText()->text(), "The admin helper isn't running");
  EXPECT_EQ(view.emptyText()->text(), "No pending requests. Start pairing from Beaconbar's settings.");
  EXPECT_TRUE(view.rows().isEmpty());
  EXPECT_TRUE(view.findChildren<QPushButton*>("authorize").isEmpty());
  EXPECT_FALSE(view.unpairAllButton()->isEnabled());
  EXPECT_FALSE(view.uninstallButton()->isEnabled());
  EXPECT_FALSE(view.messageText()->isVisible());
  EXPECT_EQ(view.width(), AdminView::kWidth);
}

TEST_F(AdminViewTest, RunningWithTwoRequests) {
  daemon.answerPending({CannedControlService::request("R1", kCreated), CannedControlService::request("R2", kCreated)});
  AdminView view(*model);
  showAndWait(view);
  EXPECT_EQ(view.headerText()->text(), "Admin helper 1.2.3 is running");
  EXPECT_FALSE(view.emptyText()->isVisible());
  ASSERT_EQ(view.rows().size(), 2);
  EXPECT_EQ(view.findChildren<RequestRow*>().size(), 2);
  EXPECT_EQ(view.findChild<QGroupBox*>("requests")->title(), "Pairing requests");
  for (RequestRow* row : view.rows()) {
    EXPECT_TRUE(row->isVisible());
    EXPECT_EQ(row->findChild<QLabel*>("requestTitle")->text(), "Beaconbar wants to turn network services on and off");
    EXPECT_TRUE(row->findChild<QLabel*>("requestTime")->text().startsWith("Requested "));
    EXPECT_EQ(row->denyButton()->text(), "Deny");
    EXPECT_EQ(row->authorizeButton()->text(), "Authorize…");
  }
  EXPECT_TRUE(view.rows()[0]->authorizeButton()->isDefault());
  EXPECT_TRUE(view.unpairAllButton()->isEnabled());
  EXPECT_TRUE(view.uninstallButton()->isEnabled());
  EXPECT_EQ(view.unpairAllButton()->toolTip(), "Revoke every app's pairing; requires an administrator");
}

TEST_F(AdminViewTest, RequestTimesShowSecondsInTheLocalesStyle) {
  // Two requests five seconds apart, at 3:04:05 PM and 3:04:10 PM here.
  const auto at = [](int second) {
    return Date::fromUnixSeconds(
        static_cast<double>(QDateTime(QDate(2026, 3, 4), QTime(15, 4, second), Qt::LocalTime).toSecsSinceEpoch()));
  };
  const struct {
    QLocale locale;
    QString first, second;
  } cases[] = {
      {QLocale(QLocale::English, QLocale::UnitedStates), "Requested 3:04:05 PM", "Requested 3:04:10 PM"},
      {QLocale(QLocale::German, QLocale::Germany), "Requested 15:04:05", "Requested 15:04:10"},
      {QLocale(QLocale::Japanese, QLocale::Japan), "Requested 15時04分05秒", "Requested 15時04分10秒"},
  };
  daemon.answerPending({CannedControlService::request("R1", at(5)), CannedControlService::request("R2", at(10))});
  for (const auto& c : cases) {
    QLocale::setDefault(c.locale);
    AdminView view(*model);
    showAndWait(view);
    ASSERT_EQ(view.rows().size(), 2);
    EXPECT_EQ(view.rows()[0]->findChild<QLabel*>("requestTime")->text(), c.first) << c.locale.name().toStdString();
    EXPECT_EQ(view.rows()[1]->findChild<QLabel*>("requestTime")->text(), c.second) << c.locale.name().toStdString();
  }
  QLocale::setDefault(QLocale::c());
}

TEST_F(AdminViewTest, EachRowActsOnItsOwnRequest) {
  daemon.answerPending({CannedControlService::request("R1", kCreated), CannedControlService::request("R2", kCreated)});
  AdminView view(*model);
  showAndWait(view);
  ASSERT_EQ(view.rows().size(), 2);
  EXPECT_EQ(view.rows()[0]->requestID(), "R1");

  view.rows()[1]->authorizeButton()->click();
  ASSERT_TRUE(waitUntil([&] { return lastCallID(kApprove) == "R2"; }));
  ASSERT_TRUE(waitUntil([&] { return view.rows().size() == 2; }));  // rebuilt by the refresh
  view.rows()[0]->denyButton()->click();
  ASSERT_TRUE(waitUntil([&] { return lastCallID(kDeny) == "R1"; }));
  // Return is the first row's "Authorize…".
  ASSERT_TRUE(waitUntil([&] { return view.rows().size() == 2; }));
  QTest::keyClick(&view, Qt::Key_Return);
  ASSERT_TRUE(waitUntil([&] { return lastCallID(kApprove) == "R1"; }));
}

TEST_F(AdminViewTest, DeniedRowDisappearsOnTheFollowingRefresh) {
  daemon.answerPending({CannedControlService::request("R1", kCreated), CannedControlService::request("R2", kCreated)});
  AdminView view(*model);
  showAndWait(view);
  daemon.answerPending({CannedControlService::request("R1", kCreated)});
  view.rows()[1]->denyButton()->click();
  ASSERT_TRUE(waitUntil([&] { return view.rows().size() == 1; }));
  EXPECT_EQ(view.rows()[0]->requestID(), "R1");
  settle();
  EXPECT_EQ(view.findChildren<RequestRow*>().size(), 1);
}

TEST_F(AdminViewTest, RequestsWithoutAVersionKeepTheBottomRowDisabled) {
  daemon.answerStatus({{"protocol", 1}});
  daemon.answerPending({CannedControlService::request("R1", kCreated)});
  AdminView view(*model);
  showAndWait(view);
  EXPECT_EQ(view.headerText()->text(), "The admin helper isn't running");
  EXPECT_EQ(view.rows().size(), 1);
  EXPECT_FALSE(view.maintenanceRow()->isEnabled());
  EXPECT_FALSE(view.uninstallButton()->isEnabled());
}

TEST_F(AdminViewTest, MessagesAndVersionsAreShownVerbatim) {
  daemon.answerStatus({{"version", "<b>9</b>"}, {"protocol", 1}});
  daemon.answerPending({CannedControlService::request("R1", kCreated)});
  daemon.answerError(kApprove, {"test", 1, "<i>refused</i> & <a href='x'>gone</a>"});
  AdminView view(*model);
  showAndWait(view);
  EXPECT_EQ(view.headerText()->text(), "Admin helper <b>9</b> is running");
  EXPECT_EQ(view.headerText()->textFormat(), Qt::PlainText);
  view.rows()[0]->authorizeButton()->click();
  ASSERT_TRUE(waitUntil([&] { return view.messageText()->isVisible(); }));
  EXPECT_EQ(view.messageText()->text(), "<i>refused</i> & <a href='x'>gone</a>");
  EXPECT_EQ(view.messageText()->textFormat(), Qt::PlainText);
}

TEST_F(AdminViewTest, AppShellRefreshesWhenTheApplicationBecomesActive) {
  AdminApp app(authorization, {daemon.factory(), {{"true"}}});
  app.show();
  ASSERT_TRUE(daemon.waitForCalls(2));  // shown
  EXPECT_EQ(app.window().windowTitle(), "Beaconbar Admin");
  EXPECT_EQ(app.window().objectName(), "main");
  ASSERT_TRUE(waitUntil([&] { return app.model().helperVersion().has_value(); }));
  EXPECT_EQ(app.window().width(), AdminView::kWidth);
  settle();
  const std::size_t before = daemon.calls().size();
  emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
  settle();
  EXPECT_EQ(daemon.calls().size(), before);
  emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
  ASSERT_TRUE(daemon.waitForCalls(before + 2));
  EXPECT_EQ(daemon.calls()[before].selector, kStatus);
}

// A run without XDG_RUNTIME_DIR (as CI's) shows a window and leaves no
// runtime directory in the temporary directory.
TEST(ConsoleTestRun, LeavesNoRuntimeDirectoryBehind) {
  bcn::testing::TempDir tmp;
  auto run = runProcess({"env", "-u", "XDG_RUNTIME_DIR", "TMPDIR=" + tmp.path().string(), "QT_QPA_PLATFORM=offscreen",
                         std::filesystem::read_symlink("/proc/self/exe").string(),
                         "--gtest_filter=AdminViewTest.DaemonNotRunning"},
                        {.timeout = std::chrono::seconds(60)});
  ASSERT_TRUE(run);
  ASSERT_EQ(run->exitCode, 0) << run->standardOutput << run->standardError;
  ASSERT_NE(run->standardOutput.find("[  PASSED  ] 1 test"), std::string::npos) << run->standardOutput;
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(tmp.path())) left.push_back(entry.path().string());
  EXPECT_EQ(left, std::vector<std::string>{});
}

}  // namespace
}  // namespace bcn
