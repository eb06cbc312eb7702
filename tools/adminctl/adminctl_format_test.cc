// Golden outputs of beaconbar-adminctl: the pending list, its JSON, and
// the line for every way an action can end badly.
#include "tools/adminctl/adminctl_format.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "admin-app/console_replies.h"
#include "platform/authorization/authorization.h"
#include "platform/ipc/ipc_errors.h"
#include "protocol/admin_error.h"
#include "tools/beaconbar/testing/json_keys.h"

namespace bcn::cli {
namespace {

using testing::keysOf;
using Kind = ModelOutcome::Kind;
using Strings = std::vector<std::string>;

const std::filesystem::path kSocket = "/run/beaconbar/T.com.quillbank.Beaconbar.admin-control";

QList<PendingRequest> requests() {
  return {PendingRequest{"0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9", *toQDateTime(Date{3600.5})},
          PendingRequest{"FFFFFFFF-0000-4000-8000-000000000001", *toQDateTime(Date{7200})}};
}

TEST(PendingFormatTest, TableOldestFirstOrOneLine) {
  EXPECT_EQ(formatPendingRequests(requests()),
            "REQUEST                               OPENED\n"
            "0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9  2001-01-01 01:00:00Z\n"
            "FFFFFFFF-0000-4000-8000-000000000001  2001-01-01 02:00:00Z\n");
  EXPECT_EQ(formatPendingRequests({}), "No pairing requests are waiting for this user.\n");
}

TEST(PendingFormatTest, JsonSchema) {
  auto json = pendingRequestsJson(QString("0.1.0"), requests());
  EXPECT_EQ(keysOf(json), (Strings{"daemonVersion", "pending"}));
  EXPECT_EQ(json["daemonVersion"], "0.1.0");
  ASSERT_EQ(json["pending"].size(), 2u);
  EXPECT_EQ(keysOf(json["pending"][0]), (Strings{"id", "created"}));
  EXPECT_EQ(json["pending"][0]["created"], "2001-01-01T01:00:00.500Z");
  json = pendingRequestsJson(std::nullopt, {});
  EXPECT_TRUE(json["daemonVersion"].is_null());
  EXPECT_TRUE(json["pending"].is_array());
}

TEST(OutcomeTextTest, AuthorizationEndings) {
  EXPECT_EQ(describeOutcome(ModelOutcome{Kind::cancelled, std::nullopt, AuthorizationStatus::canceled},
                            DaemonCall::approve, kSocket),
            "authorization cancelled; nothing was changed");
  EXPECT_NE(describeOutcome(ModelOutcome{Kind::notAuthorized, std::nullopt, AuthorizationStatus::interactionNotAllowed},
                            DaemonCall::approve, kSocket)
                .find("authentication agent"),
            std::string::npos);
  EXPECT_EQ(describeOutcome(ModelOutcome{Kind::notAuthorized, std::nullopt, AuthorizationStatus::denied},
                            DaemonCall::unpairAll, kSocket),
            "administrator authorization was refused (polkit action com.quillbank.Beaconbar.admin.pair)");
  EXPECT_EQ(describeOutcome(ModelOutcome{Kind::notAuthorized, std::nullopt, AuthorizationStatus::internal},
                            DaemonCall::approve, kSocket),
            "administrator authorization failed (status -60008)");
}

TEST(OutcomeTextTest, DaemonAndConnectionFailures) {
  const auto failed = [](PlatformError e) { return ModelOutcome{Kind::failed, std::move(e), 0}; };
  EXPECT_EQ(describeOutcome(std::nullopt, DaemonCall::pending, kSocket), "the admin daemon did not answer in time");
  EXPECT_EQ(describeOutcome(failed(PlatformError::fromErrno(ENOENT, "connect")), DaemonCall::pending, kSocket)
                .rfind("the admin daemon is not running (nothing listens at " + kSocket.string() + ")", 0),
            0u);
  EXPECT_EQ(describeOutcome(failed(ipc::timedOut()), DaemonCall::approve, kSocket),
            "the admin daemon did not answer in time");
  EXPECT_NE(describeOutcome(failed(toPlatformError(AdminError::unknownRequest)), DaemonCall::deny, kSocket)
                .find("beaconbar-adminctl pending"),
            std::string::npos);
  EXPECT_EQ(describeOutcome(failed(toPlatformError(AdminError::authorizationFailed)), DaemonCall::approve, kSocket),
            "administrator authorization failed: the admin daemon did not accept it");
  EXPECT_NE(describeOutcome(failed(ipc::connectionInterrupted()), DaemonCall::pending, kSocket)
                .find("code-identity registry"),
            std::string::npos);
}

}  // namespace
}  // namespace bcn::cli
