// Approve, deny and unpair-all: what is sent, what the administrator sees,
// and how authorizations are obtained and freed.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "admin-app/admin_model.h"
#include "admin-app/testing/model_fixture.h"
#include "platform/ipc/ipc_errors.h"
#include "protocol/admin_error.h"

namespace bcn {
namespace {

using testing::CannedControlService;
using testing::kApprove;
using testing::kConsole;
using testing::kCreated;
using testing::kDeny;
using testing::kPending;
using testing::kStatus;
using testing::kUnpairAll;
using testing::ModelTest;
using testing::settle;
using testing::waitUntil;

QString adminMessage(AdminError e) { return QString::fromStdString(std::string(message(e))); }

// The fake, with chosen steps failing.
class FailingAuthorization final : public AuthorizationServices {
 public:
  explicit FailingAuthorization(AuthorizationServices& inner) : inner_(inner) {}
  bool failCreate = false;
  bool failExternalForm = false;

  std::int32_t create(AuthorizationRef* out) override {
    return failCreate ? AuthorizationStatus::internal : inner_.create(out);
  }
  std::int32_t copyRights(const Authorization& a, std::string_view right, std::uint32_t flags) override {
    return inner_.copyRights(a, right, flags);
  }
  std::int32_t makeExternalForm(const Authorization& a, AuthorizationExternalForm* out) override {
    return failExternalForm ? AuthorizationStatus::internal : inner_.makeExternalForm(a, out);
  }
  std::int32_t createFromExternalForm(const AuthorizationExternalForm& form, AuthorizationRef* out) override {
    return inner_.createFromExternalForm(form, out);
  }
  std::int32_t free(AuthorizationRef a, std::uint32_t flags) override { return inner_.free(std::move(a), flags); }

 private:
  AuthorizationServices& inner_;
};

class AdminModelActions : public ModelTest {
 protected:
  void SetUp() override {
    daemon.answerPending(
        {CannedControlService::request("R1", kCreated), CannedControlService::request("R2", kCreated)});
    refreshAndWait();
    ASSERT_EQ(model->pending().size(), 2);
  }

  // Waits until `count` calls have been made in all, then a little longer
  // so that calls which must not follow would show up.
  std::vector<std::string> callsSettledAt(std::size_t count) {
    EXPECT_TRUE(daemon.waitForCalls(count));
    settle();
    return daemon.selectors();
  }

  std::size_t base() { return daemon.calls().size(); }
};

TEST_F(AdminModelActions, ApproveSendsTheRowsIdWithAFreshFormAndRefreshes) {
  const std::size_t before = base();
  model->approve("R2");
  ASSERT_TRUE(waitUntil([&] { return model->message() == QString("Beaconbar is paired."); }));
  auto calls = daemon.calls();
  ASSERT_GE(calls.size(), before + 1);
  const auto& approve = calls[before];
  EXPECT_EQ(approve.selector, kApprove);
  EXPECT_EQ(*approve.arguments.find("requestID")->text(), "R2");
  const PlistData& bytes = *approve.arguments.find("authorization")->data();
  ASSERT_EQ(bytes.size(), kAuthorizationExternalFormLength);
  AuthorizationExternalForm form{};
  std::copy(bytes.begin(), bytes.end(), form.begin());
  EXPECT_EQ(decodeAuthorizationExternalForm(form)->subject, kConsole);

  // Asked with interaction, extend-rights and pre-authorize, for the pair right.
  auto asked = authorization.copyRightsCalls();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].right, AdminConstants::pairRight);
  EXPECT_EQ(asked[0].flags, 19u);
  EXPECT_EQ(callsSettledAt(before + 3), (std::vector<std::string>{kStatus, kPending, kApprove, kStatus, kPending}));
}

TEST_F(AdminModelActions, DaemonErrorToApproveIsShownAndStillRefreshes) {
  daemon.answerError(kApprove, toPlatformError(AdminError::unknownRequest));
  model->approve("R1");
  ASSERT_TRUE(waitUntil([&] { return model->message() == adminMessage(AdminError::unknownRequest); }));
  EXPECT_EQ(callsSettledAt(5), (std::vector<std::string>{kStatus, kPending, kApprove, kStatus, kPending}));
}

TEST_F(AdminModelActions, DaemonErrorToUnpairAllIsShownWithoutRefresh) {
  daemon.answerError(kUnpairAll, toPlatformError(AdminError::authorizationFailed));
  model->unpairAll();
  ASSERT_TRUE(waitUntil([&] { return model->message() == adminMessage(AdminError::authorizationFailed); }));
  EXPECT_EQ(callsSettledAt(3), (std::vector<std::string>{kStatus, kPending, kUnpairAll}));
}

TEST_F(AdminModelActions, UnpairAllSuccessLeavesTheListAsItWas) {
  QSignalSpy pendingSpy(model.get(), &AdminModel::pendingChanged);
  model->unpairAll();
  ASSERT_TRUE(waitUntil([&] { return model->message() == QString("All pairings removed."); }));
  EXPECT_EQ(callsSettledAt(3), (std::vector<std::string>{kStatus, kPending, kUnpairAll}));
  EXPECT_EQ(pendingSpy.count(), 0);
  EXPECT_EQ(model->pending().size(), 2);
}

TEST_F(AdminModelActions, DenyErrorIsIgnoredAndTheListRefreshed) {
  daemon.answerError(kDeny, toPlatformError(AdminError::unknownRequest));
  daemon.answerPending({CannedControlService::request("R2", kCreated)});
  model->deny("R1");
  ASSERT_TRUE(waitUntil([&] { return model->pending().size() == 1; }));
  EXPECT_EQ(model->pending()[0].id, "R2");
  EXPECT_EQ(daemon.calls()[2].selector, kDeny);
  EXPECT_EQ(*daemon.calls()[2].arguments.find("requestID")->text(), "R1");
  settle();
  EXPECT_FALSE(model->message());
  // Deny asks for no authorization.
  EXPECT_TRUE(authorization.copyRightsCalls().empty());
}

TEST_F(AdminModelActions, UnreachableDaemonDuringAnActionShowsTheErrorAndChangesNothingElse) {
  for (auto act : {+[](AdminModel& m) { m.approve("R1"); }, +[](AdminModel& m) { m.deny("R1"); },
                   +[](AdminModel& m) { m.unpairAll(); }}) {
    daemon.start();
    model = makeModel(daemon.factory());
    refreshAndWait();
    daemon.stop();
    ASSERT_TRUE(waitUntil([&] { return !model->isConnected(); }));
    act(*model);
    ASSERT_TRUE(waitUntil([&] { return model->message().has_value(); }));
    EXPECT_TRUE(model->message()->contains("connect")) << model->message()->toStdString();
    settle();
    EXPECT_EQ(model->helperVersion(), QString("1.2.3"));
    EXPECT_EQ(model->pending().size(), 2);
  }
}

TEST_F(AdminModelActions, ConnectionLostWhileApprovingShowsTheIpcError) {
  daemon.hold(kApprove);
  model->approve("R1");
  ASSERT_TRUE(daemon.waitForHeld(1));
  daemon.stop();
  ASSERT_TRUE(waitUntil([&] { return model->message().has_value(); }));
  EXPECT_EQ(model->message(), QString::fromStdString(ipc::connectionInterrupted().description));
  settle();
  EXPECT_EQ(model->helperVersion(), QString("1.2.3"));  // no refresh followed
  EXPECT_EQ(model->pending().size(), 2);
}

TEST_F(AdminModelActions, CancelledAuthorizationIsSilentAndSendsNothing) {
  authorization.setRule(
      [](const ProcessIdentity&, std::string_view, std::uint32_t) { return AuthorizationStatus::canceled; });
  QSignalSpy messageSpy(model.get(), &AdminModel::messageChanged);
  model->approve("R1");
  model->unpairAll();
  settle();
  EXPECT_EQ(messageSpy.count(), 0);
  EXPECT_EQ(daemon.selectors(), (std::vector<std::string>{kStatus, kPending}));
  EXPECT_EQ(authorization.liveAuthorizations(), 0);
  EXPECT_EQ(model->lastAuthorization(), nullptr);
}

TEST_F(AdminModelActions, RefusedAuthorizationIsReportedWithItsStatusAndSendsNothing) {
  authorization.setRule(
      [](const ProcessIdentity&, std::string_view, std::uint32_t) { return AuthorizationStatus::denied; });
  model->approve("R1");
  EXPECT_EQ(model->message(), QString("Authorization failed (-60005)."));
  authorization.setRule(
      [](const ProcessIdentity&, std::string_view, std::uint32_t) { return AuthorizationStatus::internal; });
  model->unpairAll();
  EXPECT_EQ(model->message(), QString("Authorization failed (-60008)."));
  settle();
  EXPECT_EQ(daemon.selectors(), (std::vector<std::string>{kStatus, kPending}));
  EXPECT_EQ(authorization.liveAuthorizations(), 0);
}

TEST_F(AdminModelActions, NoExternalFormOrNoAuthorizationIsSilentAndFreesWhatWasMade) {
  FailingAuthorization failing(authorization);
  auto quiet = std::make_unique<AdminModel>(failing, AdminModel::Options{daemon.factory(), {{"true"}}});
  failing.failExternalForm = true;
  quiet->approve("R1");
  quiet->unpairAll();
  EXPECT_EQ(authorization.liveAuthorizations(), 0);
  EXPECT_EQ(authorization.freeFlags(), (std::vector<std::uint32_t>{0, 0}));
  failing.failExternalForm = false;
  failing.failCreate = true;
  quiet->approve("R1");
  EXPECT_EQ(authorization.copyRightsCalls().size(), 2u);
  settle();
  EXPECT_FALSE(quiet->message());
  EXPECT_EQ(daemon.selectors(), (std::vector<std::string>{kStatus, kPending}));
}

TEST_F(AdminModelActions, AnAuthorizationIsFreedOnlyWhenTheNextOneSucceeds) {
  model->approve("R1");
  ASSERT_TRUE(waitUntil([&] { return model->message().has_value(); }));
  const Authorization* first = model->lastAuthorization();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(authorization.freeFlags().empty());
  EXPECT_EQ(authorization.liveAuthorizations(), 1);

  // A cancelled attempt frees only its own reference.
  authorization.setRule(
      [](const ProcessIdentity&, std::string_view, std::uint32_t) { return AuthorizationStatus::canceled; });
  model->approve("R2");
  EXPECT_EQ(authorization.freeFlags(), (std::vector<std::uint32_t>{0}));
  EXPECT_EQ(model->lastAuthorization(), first);
  EXPECT_EQ(authorization.liveAuthorizations(), 1);

  // The second success destroys the first's rights and keeps the new one.
  authorization.setRule({});
  model->approve("R2");
  EXPECT_EQ(authorization.freeFlags(), (std::vector<std::uint32_t>{0, AuthorizationFlags::destroyRights}));
  EXPECT_NE(model->lastAuthorization(), nullptr);
  EXPECT_EQ(authorization.liveAuthorizations(), 1);

  // The model's end releases the kept one without revoking what was granted.
  model.reset();
  EXPECT_EQ(authorization.freeFlags(), (std::vector<std::uint32_t>{0, AuthorizationFlags::destroyRights, 0}));
  EXPECT_EQ(authorization.liveAuthorizations(), 0);
}

}  // namespace
}  // namespace bcn
