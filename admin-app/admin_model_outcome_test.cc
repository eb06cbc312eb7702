// The model's finish signals, which headless drivers (beaconbar-adminctl)
// wait for: each refresh and each action ends exactly once, with what
// became of it, including what the window does not show.
#include <gtest/gtest.h>

#include <vector>

#include "admin-app/admin_model.h"
#include "admin-app/testing/model_fixture.h"
#include "protocol/admin_error.h"

namespace bcn {
namespace {

using testing::CannedControlService;
using testing::kApprove;
using testing::kCreated;
using testing::kDeny;
using testing::kPending;
using testing::ModelTest;
using testing::settle;
using testing::waitUntil;
using Kind = ModelOutcome::Kind;

class ModelOutcomes : public ModelTest {
 protected:
  ModelOutcomes() { watch(*model); }

  void watch(AdminModel& m) {
    QObject::connect(&m, &AdminModel::refreshFinished, [this, &m](const ModelOutcome& o) {
      refreshes.push_back(o);
      // The fields already hold what the refresh read.
      pendingAtFinish = static_cast<int>(m.pending().size());
    });
    QObject::connect(&m, &AdminModel::actionFinished, [this](const ModelOutcome& o) { actions.push_back(o); });
  }

  std::vector<ModelOutcome> refreshes;
  std::vector<ModelOutcome> actions;
  int pendingAtFinish = -1;
};

TEST_F(ModelOutcomes, ARefreshFinishesOnceBothRepliesAreApplied) {
  daemon.answerPending({CannedControlService::request("R1", kCreated)});
  model->refresh();
  ASSERT_TRUE(waitUntil([&] { return !refreshes.empty(); }));
  settle();
  ASSERT_EQ(refreshes.size(), 1u);
  EXPECT_EQ(refreshes[0], ModelOutcome{});
  EXPECT_EQ(pendingAtFinish, 1);
  EXPECT_EQ(model->helperVersion(), QString("1.2.3"));
}

TEST_F(ModelOutcomes, AnUnreachableDaemonFinishesTheRefreshOnceWithTheFailure) {
  model = makeModel(nowhere());
  watch(*model);
  model->refresh();
  ASSERT_TRUE(waitUntil([&] { return !refreshes.empty(); }));
  settle();
  ASSERT_EQ(refreshes.size(), 1u);
  EXPECT_EQ(refreshes[0].kind, Kind::failed);
  ASSERT_TRUE(refreshes[0].error);
  EXPECT_EQ(refreshes[0].error->domain, PlatformError::kPosixDomain);
  EXPECT_FALSE(model->helperVersion());
}

TEST_F(ModelOutcomes, ADaemonErrorInOneReplyFailsTheRefresh) {
  daemon.answerError(kPending, toPlatformError(AdminError::wrongUser));
  model->refresh();
  ASSERT_TRUE(waitUntil([&] { return !refreshes.empty(); }));
  settle();
  ASSERT_EQ(refreshes.size(), 1u);
  EXPECT_EQ(refreshes[0].error, toPlatformError(AdminError::wrongUser));
}

TEST_F(ModelOutcomes, ApprovalSucceedsAfterTheMessageIsSetAndFailsWithTheDaemonsError) {
  model->approve("R1");
  ASSERT_TRUE(waitUntil([&] { return !actions.empty(); }));
  EXPECT_EQ(actions[0], ModelOutcome{});
  EXPECT_EQ(model->message(), QString("Beaconbar is paired."));

  daemon.answerError(kApprove, toPlatformError(AdminError::unknownRequest));
  model->approve("R1");
  ASSERT_TRUE(waitUntil([&] { return actions.size() == 2; }));
  EXPECT_EQ(actions[1].kind, Kind::failed);
  EXPECT_EQ(actions[1].error, toPlatformError(AdminError::unknownRequest));
  settle();
  EXPECT_EQ(actions.size(), 2u) << "the follow-up refresh is no action of its own";
}

TEST_F(ModelOutcomes, DenyReportsTheErrorTheWindowDoesNotShow) {
  daemon.answerError(kDeny, toPlatformError(AdminError::unknownRequest));
  model->deny("GONE");
  ASSERT_TRUE(waitUntil([&] { return !actions.empty(); }));
  EXPECT_EQ(actions[0].error, toPlatformError(AdminError::unknownRequest));
  EXPECT_FALSE(model->message()) << "the console still shows nothing";
}

TEST_F(ModelOutcomes, AuthorizationThatEndsTheActionIsReportedAtOnce) {
  const std::size_t before = daemon.calls().size();
  authorization.setRule(
      [](const ProcessIdentity&, std::string_view, std::uint32_t) { return AuthorizationStatus::canceled; });
  model->unpairAll();
  ASSERT_EQ(actions.size(), 1u) << "reported before unpairAll returns";
  EXPECT_EQ(actions[0], (ModelOutcome{Kind::cancelled, std::nullopt, AuthorizationStatus::canceled}));

  authorization.setRule(
      [](const ProcessIdentity&, std::string_view, std::uint32_t) { return AuthorizationStatus::denied; });
  model->approve("R1");
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[1], (ModelOutcome{Kind::notAuthorized, std::nullopt, AuthorizationStatus::denied}));
  settle();
  EXPECT_EQ(daemon.calls().size(), before) << "nothing was sent";
}

TEST_F(ModelOutcomes, UndeliverableActionsFail) {
  model = makeModel(nowhere());
  watch(*model);
  model->unpairAll();
  ASSERT_TRUE(waitUntil([&] { return !actions.empty(); }));
  EXPECT_EQ(actions[0].kind, Kind::failed);
  ASSERT_TRUE(actions[0].error);
  EXPECT_EQ(model->message(), QString::fromStdString(actions[0].error->description));
}

}  // namespace
}  // namespace bcn
