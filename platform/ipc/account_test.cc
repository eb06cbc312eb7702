#include "platform/ipc/account.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/pidfd.h"
#include "platform/testing/test_support.h"

namespace bcn::ipc {
namespace {

constexpr std::uint32_t kOwner = 65534;
constexpr std::uint32_t kOuterBase = 300000;

// A child that drops to kOwner, makes a user namespace (mapped by the
// parent to kOuterBase…), becomes uid 3 there and, when `nested`, makes a
// second namespace inside the first. It reports each step on a pipe and
// stays until killed.
class NamespacedChild {
 public:
  explicit NamespacedChild(bool nested) {
    int toParent[2], toChild[2];
    if (::pipe(toParent) != 0 || ::pipe(toChild) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(toParent[0]);
      ::close(toChild[1]);
      char step = 0;
      // Raw calls: only the calling thread exists here, and nothing may
      // allocate after fork.
      if (::syscall(SYS_setresgid, kOwner, kOwner, kOwner) != 0 ||
          ::syscall(SYS_setresuid, kOwner, kOwner, kOwner) != 0 || ::unshare(CLONE_NEWUSER) != 0) {
        ::_exit(1);
      }
      (void)!::write(toParent[1], "u", 1);
      if (::read(toChild[0], &step, 1) != 1) ::_exit(1);
      if (::syscall(SYS_setresuid, 3, 3, 3) != 0) ::_exit(2);
      if (nested) {
        // Changing uids made it undumpable, which makes its /proc files
        // root's; it must write its own map.
        ::prctl(PR_SET_DUMPABLE, 1);
        if (::unshare(CLONE_NEWUSER) != 0) ::_exit(3);
        const int map = ::open("/proc/self/uid_map", O_WRONLY);
        if (map < 0 || ::write(map, "0 3 1\n", 6) != 6) ::_exit(4);
        ::close(map);
      }
      (void)!::write(toParent[1], "r", 1);
      ::pause();
      ::_exit(0);
    }
    ::close(toParent[1]);
    ::close(toChild[0]);
    char step = 0;
    if (::read(toParent[0], &step, 1) == 1) {
      std::ofstream("/proc/" + std::to_string(pid_) + "/uid_map") << "0 " << kOuterBase << " 10\n";
      // Its group must be mapped too, or it may not make a namespace inside.
      std::ofstream("/proc/" + std::to_string(pid_) + "/gid_map") << kOwner << " " << kOwner << " 1\n";
      (void)!::write(toChild[1], "m", 1);
      ready_ = ::read(toParent[0], &step, 1) == 1 && step == 'r';
    }
    ::close(toParent[0]);
    ::close(toChild[1]);
    pidfd_ = openPidfd(pid_);
  }
  ~NamespacedChild() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (pidfd_ >= 0) ::close(pidfd_);
  }
  NamespacedChild(const NamespacedChild&) = delete;
  NamespacedChild& operator=(const NamespacedChild&) = delete;

  bool ready() const { return ready_; }
  pid_t pid() const { return pid_; }
  int pidfd() const { return pidfd_; }

 private:
  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool ready_ = false;
};

class PeerAccount : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: maps uids of another user's namespace";
  }
};

TEST_F(PeerAccount, APeerInTheServersNamespaceCountsAsItsOwnUid) {
  const int pidfd = openPidfd(::getpid());
  ASSERT_GE(pidfd, 0);
  EXPECT_EQ(accountableUID(::getpid(), pidfd, 1234), 1234u);
  ::close(pidfd);
}

TEST_F(PeerAccount, APeerInAUserNamespaceCountsAsTheNamespacesOwner) {
  NamespacedChild child(false);
  ASSERT_TRUE(child.ready());
  EXPECT_EQ(accountableUID(child.pid(), child.pidfd(), kOuterBase + 3), kOwner);
}

TEST_F(PeerAccount, NestingNamespacesDoesNotHideTheOwner) {
  // The inner namespace's owner is uid 3 of the outer one (kOuterBase + 3
  // outside); the person is still whoever made the outer one.
  NamespacedChild child(true);
  ASSERT_TRUE(child.ready());
  EXPECT_EQ(accountableUID(child.pid(), child.pidfd(), kOuterBase + 3), kOwner);
}

TEST_F(PeerAccount, APeerThatHasGoneIsNotAttributed) {
  NamespacedChild child(false);
  ASSERT_TRUE(child.ready());
  ::kill(child.pid(), SIGKILL);
  while (!pidfdExited(child.pidfd())) ::usleep(1000);
  EXPECT_EQ(accountableUID(child.pid(), child.pidfd(), kOuterBase + 3), std::nullopt);
}

}  // namespace
}  // namespace bcn::ipc
