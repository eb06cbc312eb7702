// The session command against a canned control service: every line runs on
// one model, a failing line does not end the session but shows in the
// exit status, and quit ends it.
#include "tools/adminctl/adminctl_session.h"

#include <gtest/gtest.h>

#include <sstream>

#include "admin-app/testing/model_fixture.h"
#include "protocol/admin_error.h"

namespace bcn::cli {
namespace {

using bcn::testing::CannedControlService;
using bcn::testing::kApprove;
using bcn::testing::kConsole;
using bcn::testing::kCreated;
using bcn::testing::kDeny;
using bcn::testing::kUnpairAll;
using Command = SessionCommand::Kind;

TEST(SessionLine, CommandsTheirArgumentsAndWhatIsNoCommand) {
  EXPECT_EQ(parseSessionLine("  approve  3f2a \t")->requestID, "3f2a");
  EXPECT_EQ(parseSessionLine("deny X")->kind, Command::deny);
  EXPECT_EQ(parseSessionLine("unpair-all")->kind, Command::unpairAll);
  EXPECT_EQ(parseSessionLine("")->kind, Command::skip);
  EXPECT_EQ(parseSessionLine("   # approve X")->kind, Command::skip);

  EXPECT_EQ(parseSessionLine("approve").error(), "approve takes a request id");
  EXPECT_EQ(parseSessionLine("approve A B").error(), "approve takes a request id");
  EXPECT_EQ(parseSessionLine("pending now").error(), "pending takes no arguments");
  EXPECT_NE(parseSessionLine("approve-all").error().find("unknown command 'approve-all'"), std::string::npos);
  EXPECT_FALSE(parseSessionLine("approve " + std::string(2000, 'A')));
}

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    authorization.grant(kConsole, AdminConstants::pairRight);
    daemon.answerPending({CannedControlService::request("R1", kCreated), CannedControlService::request("R2", kCreated),
                          CannedControlService::request("R3", kCreated)});
  }

  int run(const std::string& input) {
    ModelDriver driver(authorization, AdminModel::Options{daemon.factory(), {{"true"}}});
    std::istringstream in(input);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = runSession(driver, AdminctlOptions{}, in);
    out = ::testing::internal::GetCapturedStdout();
    err = ::testing::internal::GetCapturedStderr();
    return status;
  }

  std::vector<std::string> calledWith(const std::string& selector) const {
    std::vector<std::string> ids;
    for (const auto& call : daemon.calls()) {
      if (call.selector != selector) continue;
      const PlistValue* id = call.arguments.find("requestID");
      ids.push_back(id && id->text() ? *id->text() : "");
    }
    return ids;
  }

  CannedControlService daemon;
  FakeAuthorizationServices authorization{kConsole};
  std::string out;
  std::string err;
};

TEST_F(SessionTest, EveryLineRunsAndAFailureDoesNotEndTheSession) {
  const int status = run("approve r1\nfrobnicate\n\napprove R2\n# a note\ndeny R3\nunpair-all\n");
  EXPECT_EQ(status, 1) << "the unknown command shows in the exit status";
  EXPECT_EQ(calledWith(kApprove), (std::vector<std::string>{"R1", "R2"}));
  EXPECT_EQ(calledWith(kDeny), std::vector<std::string>{"R3"});
  EXPECT_EQ(calledWith(kUnpairAll).size(), 1u);
  EXPECT_EQ(out, "Beaconbar is paired.\nBeaconbar is paired.\nRequest R3 denied.\nAll pairings removed.\n");
  EXPECT_EQ(err.rfind("beaconbar-adminctl: unknown command 'frobnicate'", 0), 0u) << err;
  for (const auto& call : daemon.calls()) {
    if (call.selector == kApprove) {
      EXPECT_NE(call.arguments.find("authorization"), nullptr) << "each approval is authorized";
    }
  }
}

TEST_F(SessionTest, ARefusedApprovalIsReportedAndTheNextLineStillRuns) {
  daemon.answerError(kApprove, toPlatformError(AdminError::unknownRequest));
  EXPECT_EQ(run("approve R1\ndeny R2\n"), 1);
  EXPECT_EQ(calledWith(kDeny), std::vector<std::string>{"R2"});
  EXPECT_EQ(out, "Request R2 denied.\n");
  EXPECT_NE(err.find("beaconbar-adminctl: "), std::string::npos);
}

TEST_F(SessionTest, QuitEndsTheSession) {
  EXPECT_EQ(run("approve R1\nquit\napprove R2\n"), 0);
  EXPECT_EQ(calledWith(kApprove), std::vector<std::string>{"R1"});
}

}  // namespace
}  // namespace bcn::cli
