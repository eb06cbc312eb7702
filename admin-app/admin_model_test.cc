// The model's refresh, connection and lifetime rules against a control
// service in this process.
#include "admin-app/admin_model.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <thread>

#include "admin-app/testing/model_fixture.h"
#include "platform/ipc/ipc_errors.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using testing::CannedControlService;
using testing::kCreated;
using testing::kPending;
using testing::kStatus;
using testing::ModelTest;
using testing::settle;
using testing::waitUntil;

using AdminModelRefresh = ModelTest;

TEST_F(AdminModelRefresh, ReadsVersionAndRequestsInTheDaemonsOrder) {
  daemon.answerPending({CannedControlService::request("SECOND", kCreated),
                        CannedControlService::request("FIRST", Date{kCreated.secondsSince2001 - 60})});
  EXPECT_FALSE(model->isConnected());
  refreshAndWait();
  EXPECT_TRUE(model->isConnected());
  EXPECT_EQ(model->helperVersion(), QString("1.2.3"));
  ASSERT_EQ(model->pending().size(), 2);
  EXPECT_EQ(model->pending()[0].id, "SECOND");
  EXPECT_EQ(model->pending()[1].id, "FIRST");
  EXPECT_EQ(fromQDateTime(model->pending()[0].created), kCreated);
  EXPECT_EQ(model->message(), std::nullopt);
  EXPECT_EQ(daemon.selectors(), (std::vector<std::string>{kStatus, kPending}));
}

TEST_F(AdminModelRefresh, UnreachableDaemonClearsVersionAndListButNotTheMessage) {
  daemon.answerPending({CannedControlService::request("R1", kCreated)});
  refreshAndWait();
  model->unpairAll();  // sets a message to keep
  ASSERT_TRUE(waitUntil([&] { return model->message().has_value(); }));
  const auto message = model->message();

  daemon.stop();
  ASSERT_TRUE(waitUntil([&] { return !model->isConnected(); }));
  QSignalSpy pendingSpy(model.get(), &AdminModel::pendingChanged);
  model->refresh();
  ASSERT_TRUE(waitUntil([&] { return !model->helperVersion() && model->pending().isEmpty(); }));
  EXPECT_GE(pendingSpy.count(), 1);
  EXPECT_EQ(model->message(), message);
}

TEST_F(AdminModelRefresh, NoDaemonAtAllReadsAsNotRunning) {
  auto lonely = makeModel(nowhere());
  QSignalSpy pendingSpy(lonely.get(), &AdminModel::pendingChanged);
  lonely->refresh();
  // Reported from the event loop, not inside refresh().
  EXPECT_EQ(pendingSpy.count(), 0);
  ASSERT_TRUE(waitUntil([&] { return pendingSpy.count() == 2; }));
  EXPECT_FALSE(lonely->helperVersion());
  EXPECT_FALSE(lonely->isConnected());
  EXPECT_FALSE(lonely->message());
}

TEST_F(AdminModelRefresh, StatusWithoutTextVersionReadsAsNotRunningYetKeepsTheList) {
  daemon.answerPending({CannedControlService::request("R1", kCreated)});
  refreshAndWait();
  ASSERT_TRUE(model->helperVersion());

  daemon.answerStatus({{"protocol", 1}});
  refreshAndWait();
  EXPECT_FALSE(model->helperVersion());
  EXPECT_EQ(model->pending().size(), 1);

  daemon.answerStatus({{"version", "1.2.3"}, {"protocol", 1}});
  refreshAndWait();
  ASSERT_TRUE(model->helperVersion());
  daemon.answerStatus({{"version", 2}, {"protocol", 1}});
  refreshAndWait();
  EXPECT_FALSE(model->helperVersion());
  EXPECT_EQ(model->pending().size(), 1);
}

TEST_F(AdminModelRefresh, OneBadRequestIsSkippedTheOthersStayInOrder) {
  daemon.answerPending({CannedControlService::request("A", kCreated), PlistDictionary{{"id", "NO-DATE"}},
                        CannedControlService::request("B", kCreated)});
  refreshAndWait();
  ASSERT_EQ(model->pending().size(), 2);
  EXPECT_EQ(model->pending()[0].id, "A");
  EXPECT_EQ(model->pending()[1].id, "B");
}

TEST_F(AdminModelRefresh, MisshapenRepliesCountAsAnUnreachableDaemon) {
  daemon.answerPending({CannedControlService::request("A", kCreated)});
  refreshAndWait();
  // No "status" dictionary at all, and a list that is not a list.
  daemon.answer(kStatus, {{{"version", "1.2.3"}}, std::nullopt});
  daemon.answer(kPending, {{{"items", "A"}}, std::nullopt});
  // Until the round has finished, the second misshapen reply may still be
  // on its way and would land in the next round.
  QSignalSpy finished(model.get(), &AdminModel::refreshFinished);
  model->refresh();
  ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
  EXPECT_FALSE(model->helperVersion());
  EXPECT_TRUE(model->pending().isEmpty());

  // An error in place of the values means the same.
  daemon.answerStatus({{"version", "1.2.3"}});
  daemon.answerPending({CannedControlService::request("A", kCreated)});
  refreshAndWait();
  ASSERT_TRUE(model->helperVersion());
  daemon.answerError(kPending, ipc::replyNotEncodable());
  finished.clear();
  model->refresh();
  ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
  EXPECT_FALSE(model->helperVersion());
  EXPECT_TRUE(model->pending().isEmpty());
}

TEST_F(AdminModelRefresh, EqualWritesStaySilentButTheListAlwaysNotifies) {
  QSignalSpy versionSpy(model.get(), &AdminModel::helperVersionChanged);
  QSignalSpy pendingSpy(model.get(), &AdminModel::pendingChanged);
  QSignalSpy connectionSpy(model.get(), &AdminModel::connectionChanged);
  refreshAndWait();
  refreshAndWait();
  EXPECT_EQ(versionSpy.count(), 1);
  EXPECT_EQ(pendingSpy.count(), 2);
  EXPECT_EQ(connectionSpy.count(), 1);  // one connection, reused
}

TEST_F(AdminModelRefresh, EndedConnectionIsDroppedAndTheNextActionConnectsAfresh) {
  refreshAndWait();
  daemon.stop();
  ASSERT_TRUE(waitUntil([&] { return !model->isConnected(); }));
  daemon.answerStatus({{"version", "2.0"}, {"protocol", 1}});
  daemon.start();
  refreshAndWait();
  EXPECT_TRUE(model->isConnected());
  EXPECT_EQ(model->helperVersion(), QString("2.0"));
}

// A handler that touched the model after it was freed would be caught by
// AddressSanitizer, under which the suite runs.
TEST_F(AdminModelRefresh, ReplyAfterTheModelIsGoneDoesNothing) {
  daemon.hold(kStatus);
  daemon.hold(kPending);
  model->refresh();
  ASSERT_TRUE(daemon.waitForHeld(2));
  // One reply reaches the client before the model goes, the other is cut
  // off by it; both land in the event queue after the model has gone.
  daemon.held()[0](PlistDictionary{{"status", PlistDictionary{{"version", "late"}, {"protocol", 1}}}});
  std::this_thread::sleep_for(100ms);
  model.reset();
  daemon.held()[1](PlistDictionary{{"items", PlistArray{}}});
  settle();
  daemon.stop();
  settle();
}

TEST_F(AdminModelRefresh, UninstallReportsSuccessAndRefreshes) {
  daemon.stop();  // as after a real uninstall
  model = makeModel(daemon.factory(), {{"true"}});
  model->uninstallHelper();
  EXPECT_EQ(model->message(), QString("The admin helper was removed."));
  ASSERT_TRUE(waitUntil([&] { return !model->helperVersion(); }));
}

TEST_F(AdminModelRefresh, UninstallFailuresShowTheToolsErrorText) {
  model = makeModel(daemon.factory(),
                    {{"/bin/sh", "-c", "echo 'Error executing command: Request dismissed' >&2; exit 126"}});
  model->uninstallHelper();
  EXPECT_EQ(model->message(), QString("Uninstall failed: Error executing command: Request dismissed"));
  ASSERT_TRUE(daemon.waitForCalls(2));  // refreshed

  model = makeModel(daemon.factory(), {{"false"}});
  model->uninstallHelper();
  EXPECT_EQ(model->message(), QString("Uninstall failed: unknown error"));

  model = makeModel(daemon.factory(), {{(scratch / "no-such-tool").string()}});
  model->uninstallHelper();
  ASSERT_TRUE(model->message());
  EXPECT_TRUE(model->message()->startsWith("Uninstall failed: ")) << model->message()->toStdString();
  EXPECT_NE(*model->message(), QString("Uninstall failed: unknown error"));

  model = makeModel(daemon.factory(), {{"sleep", "5"}, 200ms});
  model->uninstallHelper();
  EXPECT_EQ(model->message(), QString("Uninstall failed: unknown error"));
}

}  // namespace
}  // namespace bcn
