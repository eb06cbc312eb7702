#include "platform/authorization/process_identity.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/testing/test_support.h"

namespace bcn {
namespace {

// A /proc/<pid>/stat line with the given command name and start time.
std::string statLine(const std::string& comm, const std::string& start) {
  std::string line = "4242 (" + comm + ") S";
  for (int field = 4; field <= 21; ++field) line += " " + std::to_string(field * 10);
  return line + " " + start + " 1000 2000 3000\n";
}

TEST(ParseStatStartTime, CountsFieldsAfterTheLastParenthesisOfTheName) {
  EXPECT_EQ(parseStatStartTime(statLine("bash", "987654")), 987654u);
  // A name may contain spaces, parentheses and digits that look like fields.
  EXPECT_EQ(parseStatStartTime(statLine("a) 1 2 (b", "55")), 55u);
  EXPECT_EQ(parseStatStartTime(statLine(") )", "18446744073709551615")), 18446744073709551615u);
}

TEST(ParseStatStartTime, RefusesMalformedTexts) {
  EXPECT_EQ(parseStatStartTime(""), std::nullopt);
  EXPECT_EQ(parseStatStartTime("4242 bash S 1 2 3"), std::nullopt);                    // no name
  EXPECT_EQ(parseStatStartTime(statLine("x", "12a")), std::nullopt);                   // not a number
  EXPECT_EQ(parseStatStartTime(statLine("x", "-5")), std::nullopt);                    // negative
  EXPECT_EQ(parseStatStartTime(statLine("x", "18446744073709551616")), std::nullopt);  // overflow
  std::string cut = statLine("x", "77");
  EXPECT_EQ(parseStatStartTime(cut.substr(0, cut.find(" 77"))), std::nullopt);  // too few fields
}

TEST(ParseStatusRealUID, TakesTheFirstOfTheUidLine) {
  EXPECT_EQ(parseStatusRealUID("Name:\tx\nUid:\t1000\t0\t0\t0\nGid:\t5\t5\t5\t5\n"), 1000u);
  EXPECT_EQ(parseStatusRealUID("Uid: 7 8 9 10"), 7u);
  EXPECT_EQ(parseStatusRealUID("Name:\tUid:\t3\n"), std::nullopt);  // not at the start of a line
  EXPECT_EQ(parseStatusRealUID("Uid:\t\n"), std::nullopt);
  EXPECT_EQ(parseStatusRealUID("Uid:\t4294967296\t0\n"), std::nullopt);
  EXPECT_EQ(parseStatusRealUID(""), std::nullopt);
}

TEST(ProcessIdentity, DescribesThisProcess) {
  auto self = ProcessIdentity::ofSelf();
  ASSERT_TRUE(self.has_value());
  EXPECT_EQ(self->pid, ::getpid());
  EXPECT_EQ(self->uid, ::getuid());
  auto stat = testing::readText("/proc/self/stat");
  EXPECT_EQ(self->startTime, parseStatStartTime(stat));
  EXPECT_EQ(ProcessIdentity::of(::getpid()), self);
}

TEST(ProcessIdentity, IsAbsentForProcessesThatDoNotExist) {
  pid_t child = ::fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(ProcessIdentity::of(child), std::nullopt);
  EXPECT_EQ(ProcessIdentity::of(0), std::nullopt);
  EXPECT_EQ(ProcessIdentity::of(-1), std::nullopt);
}

TEST(ProcessIdentity, APidfdNoticesThatItsProcessExited) {
  testing::WaitingChild child;
  int pidfd = openPidfd(child.pid());
  ASSERT_GE(pidfd, 0);
  EXPECT_FALSE(pidfdExited(pidfd));
  child.release();
  EXPECT_TRUE(pidfdExited(pidfd));
  ::close(pidfd);
}

}  // namespace
}  // namespace bcn
