// The pair-right check against the real polkitd. scripts/test.sh brings up
// the bus and polkitd, creates bcn-polkit-yes (granted the right by a test
// rule) and bcn-polkit-no (refused), and sets BCN_POLKIT_TEST=1.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "daemon/admin_daemon.h"
#include "daemon/testing/daemon_fixture.h"
#include "platform/authorization/polkit_authorization.h"

namespace bcn {
namespace {

// A process of `user` that created an authorization and lives until the
// object goes away; the form is what its console would send.
class ConsoleProcess {
 public:
  explicit ConsoleProcess(const char* user) {
    const passwd* account = ::getpwnam(user);
    if (!account) return;
    uid_ = account->pw_uid;
    const gid_t gid = account->pw_gid;
    int formPipe[2], holdPipe[2];
    if (::pipe(formPipe) != 0 || ::pipe(holdPipe) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(formPipe[0]);
      ::close(holdPipe[1]);
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid_) != 0) _exit(10);
      PolkitAuthorizationServices services;
      AuthorizationRef authorization;
      AuthorizationExternalForm form{};
      if (services.create(&authorization) != 0 || services.makeExternalForm(*authorization, &form) != 0) _exit(11);
      if (::write(formPipe[1], form.data(), form.size()) != static_cast<ssize_t>(form.size())) _exit(12);
      char c;
      [[maybe_unused]] auto n = ::read(holdPipe[0], &c, 1);
      _exit(0);
    }
    ::close(formPipe[1]);
    ::close(holdPipe[0]);
    hold_ = holdPipe[1];
    form_.resize(kAuthorizationExternalFormLength);
    if (::read(formPipe[0], form_.data(), form_.size()) != static_cast<ssize_t>(form_.size())) form_.clear();
    ::close(formPipe[0]);
    if (!form_.empty()) identity_ = ProcessIdentity::of(pid_);
  }
  ~ConsoleProcess() { end(); }

  void end() {
    if (pid_ <= 0) return;
    ::close(hold_);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  bool ready() const { return identity_.has_value(); }
  const std::vector<std::uint8_t>& form() const { return form_; }
  const ProcessIdentity& identity() const { return *identity_; }
  std::uint32_t uid() const { return uid_; }

 private:
  pid_t pid_ = 0;
  int hold_ = -1;
  std::uint32_t uid_ = 0;
  std::vector<std::uint8_t> form_;
  std::optional<ProcessIdentity> identity_;
};

class PolkitPairRight : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root: runs consoles as the polkit test users";
    if (!std::getenv("BCN_POLKIT_TEST")) GTEST_SKIP() << "needs polkitd and the test users; run scripts/test.sh";
    // pkcheck behind a wrapper that counts its runs.
    testing::writeText(dir_ / "pkcheck",
                       "#!/bin/sh\necho run >> '" + (dir_ / "runs").string() + "'\nexec pkcheck \"$@\"\n");
    ::chmod((dir_ / "pkcheck").c_str(), 0755);
    polkit_ = std::make_unique<PolkitAuthorizationServices>(
        PolkitAuthorizationServices::Options{.pkcheck = (dir_ / "pkcheck").string()});
    daemon_ = std::make_unique<AdminDaemon>(PairingStore(testing::storeOptionsFor(dir_ / "state")), *polkit_, log_);
  }
  int pkcheckRuns() const {
    return std::filesystem::exists(dir_ / "runs") ? static_cast<int>(testing::readText(dir_ / "runs").size() / 4) : 0;
  }
  std::optional<AdminError> approve(const ConsoleProcess& console, const std::vector<std::uint8_t>& form,
                                    const ProcessIdentity& caller) {
    const std::string id = daemon_->beginPairing(console.uid(), 1).value();
    return testing::adminError(daemon_->approvePairing(id, form, console.uid(), caller));
  }

  testing::TempDir dir_;
  RecordingLog log_;
  std::unique_ptr<PolkitAuthorizationServices> polkit_;
  std::unique_ptr<AdminDaemon> daemon_;
};

TEST_F(PolkitPairRight, AGrantedAdministratorApproves) {
  ConsoleProcess console("bcn-polkit-yes");
  ASSERT_TRUE(console.ready());
  EXPECT_EQ(approve(console, console.form(), console.identity()), std::nullopt);
  EXPECT_EQ(pkcheckRuns(), 1);
  EXPECT_TRUE(daemon_->unpairAll(console.form(), console.identity(), console.identity().uid));
  EXPECT_EQ(log_.messages().back(), "all pairings removed");
}

TEST_F(PolkitPairRight, ARefusedUserIsToldAuthorizationFailed) {
  ConsoleProcess console("bcn-polkit-no");
  ASSERT_TRUE(console.ready());
  EXPECT_EQ(approve(console, console.form(), console.identity()), AdminError::authorizationFailed);
  EXPECT_EQ(pkcheckRuns(), 1);
}

TEST_F(PolkitPairRight, AFormNamingAnotherLiveProcessIsRefused) {
  ConsoleProcess granted("bcn-polkit-yes");
  ConsoleProcess refused("bcn-polkit-no");
  ASSERT_TRUE(granted.ready() && refused.ready());
  // The refused user sends a form naming the granted user's console.
  EXPECT_EQ(approve(refused, granted.form(), refused.identity()), AdminError::authorizationFailed);
  // Or forges one naming it from scratch.
  auto forged = encodeAuthorizationExternalForm(granted.identity(), {});
  EXPECT_EQ(approve(refused, {forged.begin(), forged.end()}, refused.identity()), AdminError::authorizationFailed);
  EXPECT_EQ(pkcheckRuns(), 0);
}

TEST_F(PolkitPairRight, AFormOfAnExitedProcessIsRefused) {
  ConsoleProcess console("bcn-polkit-yes");
  ASSERT_TRUE(console.ready());
  const auto form = console.form();
  const auto identity = console.identity();
  console.end();
  EXPECT_EQ(approve(console, form, identity), AdminError::authorizationFailed);
  EXPECT_EQ(pkcheckRuns(), 0);
}

TEST_F(PolkitPairRight, FormsOfTheWrongSizeNeverReachPolkit) {
  ConsoleProcess console("bcn-polkit-yes");
  ASSERT_TRUE(console.ready());
  for (std::size_t size : {0u, 31u, 33u}) {
    auto form = console.form();
    form.resize(size, 0);
    EXPECT_EQ(approve(console, form, console.identity()), AdminError::authorizationFailed) << size;
  }
  EXPECT_EQ(pkcheckRuns(), 0);
}

}  // namespace
}  // namespace bcn
