// ModelDriver against a canned control service: it returns once the model
// has finished, with the model's fields filled, and gives up on a daemon
// that does not answer.
#include "tools/adminctl/model_driver.h"

#include <gtest/gtest.h>

#include "admin-app/testing/model_fixture.h"
#include "protocol/admin_error.h"

namespace bcn::cli {
namespace {

using bcn::testing::CannedControlService;
using bcn::testing::kApprove;
using bcn::testing::kConsole;
using bcn::testing::kCreated;
using bcn::testing::kPending;
using Kind = ModelOutcome::Kind;
using namespace std::chrono_literals;

class ModelDriverTest : public ::testing::Test {
 protected:
  ModelDriverTest() { authorization.grant(kConsole, AdminConstants::pairRight); }

  std::unique_ptr<ModelDriver> driver(std::chrono::milliseconds limit = ModelDriver::kAnswerLimit) {
    return std::make_unique<ModelDriver>(authorization, AdminModel::Options{daemon.factory(), {{"true"}}}, limit);
  }

  CannedControlService daemon;
  FakeAuthorizationServices authorization{kConsole};
};

TEST_F(ModelDriverTest, RefreshReturnsWithTheListRead) {
  daemon.answerPending({CannedControlService::request("R1", kCreated)});
  auto d = driver();
  const auto outcome = d->refresh();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->kind, Kind::succeeded);
  ASSERT_EQ(d->model().pending().size(), 1);
  EXPECT_EQ(d->model().pending()[0].id, QString("R1"));
  EXPECT_EQ(d->model().helperVersion(), QString("1.2.3"));
}

TEST_F(ModelDriverTest, ActionsReturnTheirOutcomeAlsoWhenTheAuthorizationEndsThemAtOnce) {
  auto d = driver();
  auto approved = d->act([](AdminModel& m) { m.approve("R1"); });
  ASSERT_TRUE(approved);
  EXPECT_EQ(approved->kind, Kind::succeeded);
  EXPECT_EQ(daemon.calls()[0].selector, kApprove);

  daemon.answerError(kApprove, toPlatformError(AdminError::wrongUser));
  auto refused = d->act([](AdminModel& m) { m.approve("R1"); });
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->error, toPlatformError(AdminError::wrongUser));

  authorization.setRule(
      [](const ProcessIdentity&, std::string_view, std::uint32_t) { return AuthorizationStatus::canceled; });
  const auto started = std::chrono::steady_clock::now();
  auto cancelled = d->act([](AdminModel& m) { m.unpairAll(); });
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->kind, Kind::cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << "no waiting for an answer that cannot come";
}

TEST_F(ModelDriverTest, ADaemonThatDoesNotAnswerEndsTheWaitAtTheLimit) {
  daemon.hold(kPending);
  auto d = driver(300ms);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(d->refresh());
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, 300ms);
  EXPECT_LT(waited, 5s);
}

}  // namespace
}  // namespace bcn::cli
