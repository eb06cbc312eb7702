// Test-only: an AdminModel wired to a canned control service and a fake
// authorization service that grants the console the pair right, plus the
// selectors the tests look for. GUI thread only.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "admin-app/admin_model.h"
#include "admin-app/testing/canned_control_service.h"
#include "admin-app/testing/qt_wait.h"
#include "platform/authorization/fake_authorization.h"
#include "protocol/admin_constants.h"

namespace bcn::testing {

inline const std::string kStatus{ControlSelector::status};
inline const std::string kPending{ControlSelector::pendingPairings};
inline const std::string kApprove{ControlSelector::approvePairing};
inline const std::string kDeny{ControlSelector::denyPairing};
inline const std::string kUnpairAll{ControlSelector::unpairAll};

inline const Date kCreated = Date::fromUnixSeconds(1'700'000'000);

class ModelTest : public ::testing::Test {
 protected:
  ModelTest() {
    authorization.grant(kConsole, AdminConstants::pairRight);
    model = makeModel(daemon.factory());
  }

  std::unique_ptr<AdminModel> makeModel(AdminModel::ClientFactory factory, UninstallCommand uninstall = {{"true"}}) {
    return std::make_unique<AdminModel>(authorization, AdminModel::Options{std::move(factory), std::move(uninstall)});
  }

  // A factory for a socket where no daemon listens.
  AdminModel::ClientFactory nowhere() {
    return [path = scratch / "no-daemon"](ipc::Client::Options options) {
      return AdminControlClient::connect(path, std::move(options));
    };
  }

  // Refreshes and waits until both replies have been applied.
  void refreshAndWait() {
    const std::size_t before = daemon.calls().size();
    int applied = 0;
    auto count = [&] { ++applied; };
    auto a = QObject::connect(model.get(), &AdminModel::pendingChanged, count);
    model->refresh();
    ASSERT_TRUE(daemon.waitForCalls(before + 2));
    // One connection answers in order, so once the pending list (which
    // always notifies) is applied, the status before it is too.
    ASSERT_TRUE(waitUntil([&] { return applied >= 1; }));
    QObject::disconnect(a);
  }

  std::vector<std::string> selectorsAfter(std::size_t first) {
    auto all = daemon.selectors();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
  }

  TempDir scratch;
  CannedControlService daemon;
  FakeAuthorizationServices authorization{kConsole};
  std::unique_ptr<AdminModel> model;
};

}  // namespace bcn::testing
