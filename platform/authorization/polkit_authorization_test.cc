#include "platform/authorization/polkit_authorization.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/testing/test_support.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;

// Stands in for pkcheck: records its arguments, prints what the test asks
// for and exits with the test's status.
class FakePkcheck {
 public:
  FakePkcheck() {
    testing::writeText(script(), "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + log().string() + "'\n" + ". '" +
                                     behaviour().string() + "'\n");
    ::chmod(script().c_str(), 0755);
    behave("exit 0");
  }
  void behave(const std::string& shell) { testing::writeText(behaviour(), shell + "\n"); }
  std::filesystem::path script() const { return dir_ / "pkcheck"; }
  std::string calls() const { return std::filesystem::exists(log()) ? testing::readText(log()) : ""; }
  PolkitAuthorizationServices services(std::chrono::milliseconds timeout = 10s) const {
    return PolkitAuthorizationServices({.pkcheck = script(), .checkTimeout = timeout, .interactiveTimeout = timeout});
  }

 private:
  std::filesystem::path log() const { return dir_ / "calls"; }
  std::filesystem::path behaviour() const { return dir_ / "behaviour"; }
  testing::TempDir dir_;
};

ProcessResult exitedWith(int code, std::string out = "") {
  ProcessResult r;
  r.exitCode = code;
  r.standardOutput = std::move(out);
  return r;
}

TEST(PkcheckOutcome, MapsToAuthorizationStatuses) {
  using S = PolkitAuthorizationServices;
  EXPECT_EQ(S::statusFromPkcheck(exitedWith(0)), AuthorizationStatus::success);
  EXPECT_EQ(S::statusFromPkcheck(exitedWith(1)), AuthorizationStatus::denied);
  EXPECT_EQ(S::statusFromPkcheck(exitedWith(1,
                                            "polkit\\56retains_authorization_after_challenge=1\n"
                                            "polkit\\56dismissed=true\n")),
            AuthorizationStatus::canceled);
  EXPECT_EQ(S::statusFromPkcheck(exitedWith(1, "polkit.dismissed=true\n")), AuthorizationStatus::canceled);
  EXPECT_EQ(S::statusFromPkcheck(exitedWith(1, "polkit\\56dismissed=false\n")), AuthorizationStatus::denied);
  EXPECT_EQ(S::statusFromPkcheck(exitedWith(1, "xpolkit.dismissed=true\n")), AuthorizationStatus::denied);
  EXPECT_EQ(S::statusFromPkcheck(exitedWith(2)), AuthorizationStatus::interactionNotAllowed);
  EXPECT_EQ(S::statusFromPkcheck(exitedWith(3)), AuthorizationStatus::canceled);
  EXPECT_EQ(S::statusFromPkcheck(exitedWith(127)), AuthorizationStatus::internal);
  ProcessResult killed;
  killed.signal = 9;
  EXPECT_EQ(S::statusFromPkcheck(killed), AuthorizationStatus::internal);
  ProcessResult late = exitedWith(0);
  late.timedOut = true;
  EXPECT_EQ(S::statusFromPkcheck(late), AuthorizationStatus::internal);
}

TEST(PolkitAuthorization, AsksPkcheckAboutTheSubjectProcess) {
  FakePkcheck pkcheck;
  auto services = pkcheck.services();
  AuthorizationRef self;
  ASSERT_EQ(services.create(&self), AuthorizationStatus::success);
  auto me = ProcessIdentity::ofSelf().value();
  EXPECT_EQ(self->subject(), me);

  EXPECT_EQ(services.copyRights(*self, "com.example.right", AuthorizationFlags::extendRights),
            AuthorizationStatus::success);
  std::string process = std::to_string(me.pid) + "," + std::to_string(me.startTime) + "," + std::to_string(me.uid);
  EXPECT_EQ(pkcheck.calls(), "--action-id\ncom.example.right\n--process\n" + process + "\n");

  EXPECT_EQ(services.copyRights(*self, "com.example.right",
                                AuthorizationFlags::interactionAllowed | AuthorizationFlags::extendRights |
                                    AuthorizationFlags::preAuthorize),
            AuthorizationStatus::success);
  EXPECT_TRUE(pkcheck.calls().ends_with(process + "\n--allow-user-interaction\n"));
}

TEST(PolkitAuthorization, ReportsRefusalsTimeoutsAndAMissingTool) {
  FakePkcheck pkcheck;
  auto services = pkcheck.services(300ms);
  AuthorizationRef self;
  ASSERT_EQ(services.create(&self), AuthorizationStatus::success);
  pkcheck.behave("echo 'Not authorized.' >&2; exit 1");
  EXPECT_EQ(services.copyRights(*self, "r", 2), AuthorizationStatus::denied);
  pkcheck.behave("exit 3");
  EXPECT_EQ(services.copyRights(*self, "r", 3), AuthorizationStatus::canceled);
  pkcheck.behave("exec sleep 30");
  EXPECT_EQ(services.copyRights(*self, "r", 2), AuthorizationStatus::internal);
  EXPECT_EQ(services.copyRights(*self, "r", 0x100), AuthorizationStatus::invalidFlags);

  PolkitAuthorizationServices missing({.pkcheck = "/nonexistent/pkcheck"});
  EXPECT_EQ(missing.copyRights(*self, "r", 2), AuthorizationStatus::internal);
}

TEST(PolkitAuthorization, RebuildsAuthorizationsOnlyForTheLiveProcessTheyName) {
  FakePkcheck pkcheck;
  auto services = pkcheck.services();
  auto me = ProcessIdentity::ofSelf().value();
  AuthorizationRef rebuilt;
  ASSERT_EQ(services.createFromExternalForm(encodeAuthorizationExternalForm(me, {7}), &rebuilt),
            AuthorizationStatus::success);
  EXPECT_EQ(rebuilt->subject(), me);
  EXPECT_EQ(rebuilt->nonce()[0], 7);

  AuthorizationRef refused;
  auto forged = me;
  forged.startTime += 1;  // the same pid, but a different process
  EXPECT_EQ(services.createFromExternalForm(encodeAuthorizationExternalForm(forged, {}), &refused),
            AuthorizationStatus::invalidRef);
  auto otherUser = me;
  otherUser.uid += 1;
  EXPECT_EQ(services.createFromExternalForm(encodeAuthorizationExternalForm(otherUser, {}), &refused),
            AuthorizationStatus::invalidRef);
  AuthorizationExternalForm zeros{};
  EXPECT_EQ(services.createFromExternalForm(zeros, &refused), AuthorizationStatus::invalidRef);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(pkcheck.calls(), "");
}

TEST(PolkitAuthorization, ASubjectThatExitsLosesItsAuthorization) {
  FakePkcheck pkcheck;
  auto services = pkcheck.services();
  testing::WaitingChild child;
  ASSERT_GT(child.pid(), 0);
  auto identity = ProcessIdentity::of(child.pid()).value();
  auto form = encodeAuthorizationExternalForm(identity, {});
  AuthorizationRef held;
  ASSERT_EQ(services.createFromExternalForm(form, &held), AuthorizationStatus::success);

  child.release();
  EXPECT_EQ(services.copyRights(*held, "r", 2), AuthorizationStatus::invalidRef);
  AuthorizationRef late;
  EXPECT_EQ(services.createFromExternalForm(form, &late), AuthorizationStatus::invalidRef);
  EXPECT_EQ(pkcheck.calls(), "");
}

// polkit keeps an administrator's grant (auth_admin_keep) for the whole
// session; the fake does the same with a file. The console's second
// approval rests on that grant: freeing the first authorization with
// destroyRights must leave it for the daemon's non-interactive check.
TEST(PolkitAuthorization, DestroyingRightsLeavesTheSessionsKeptGrantToNewerAuthorizations) {
  FakePkcheck pkcheck;
  const std::string kept = pkcheck.script().string() + ".kept";
  pkcheck.behave("case \" $* \" in\n"
                 "  *' --revoke-temp '*) rm -f '" + kept + "'; exit 0 ;;\n"
                 "  *' --allow-user-interaction '*) touch '" + kept + "'; exit 0 ;;\n"
                 "  *) [ -e '" + kept + "' ] && exit 0; echo 'Not authorized.' >&2; exit 1 ;;\n"
                 "esac");
  auto services = pkcheck.services();
  constexpr std::uint32_t kAsk = AuthorizationFlags::interactionAllowed | AuthorizationFlags::extendRights;
  AuthorizationRef first, second;
  ASSERT_EQ(services.create(&first), AuthorizationStatus::success);
  ASSERT_EQ(services.copyRights(*first, "com.example.right", kAsk), AuthorizationStatus::success);
  ASSERT_EQ(services.create(&second), AuthorizationStatus::success);
  ASSERT_EQ(services.copyRights(*second, "com.example.right", kAsk), AuthorizationStatus::success);
  AuthorizationExternalForm form{};
  ASSERT_EQ(services.makeExternalForm(*second, &form), AuthorizationStatus::success);

  EXPECT_EQ(services.free(std::move(first), AuthorizationFlags::destroyRights), AuthorizationStatus::success);

  // The daemon's side: rebuilt from the form, checked without interaction.
  AuthorizationRef received;
  ASSERT_EQ(services.createFromExternalForm(form, &received), AuthorizationStatus::success);
  EXPECT_EQ(services.copyRights(*received, "com.example.right", AuthorizationFlags::extendRights),
            AuthorizationStatus::success);
  EXPECT_EQ(pkcheck.calls().find("--revoke-temp"), std::string::npos) << pkcheck.calls();
  EXPECT_EQ(services.free(std::move(second), AuthorizationFlags::destroyRights), AuthorizationStatus::success);
  EXPECT_EQ(services.free(std::move(received), 0x100), AuthorizationStatus::invalidFlags);
}

}  // namespace
}  // namespace bcn
