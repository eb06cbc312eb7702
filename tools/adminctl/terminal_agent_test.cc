// TerminalAgent: registration is waited for and told apart from an agent
// that exits or hangs; with polkitd running, the real pkttyagent registers
// for a process that has a terminal, and only once.
#include "tools/adminctl/terminal_agent.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/testing/test_support.h"

namespace bcn::cli {
namespace {

using bcn::testing::TempDir;
using namespace std::chrono_literals;

TEST(TerminalAgentTest, AMissingProgramFailsAtOnce) {
  auto agent = TerminalAgent::start(::getpid(), 1s, "/nonexistent/pkttyagent");
  ASSERT_FALSE(agent);
  EXPECT_NE(agent.error().find("not found"), std::string::npos) << agent.error();
  EXPECT_FALSE(TerminalAgent::start(999'999'999, 1s));
}

TEST(TerminalAgentTest, AnAgentThatExitsHasNotRegistered) {
  auto agent = TerminalAgent::start(::getpid(), 5s, "/bin/false");
  ASSERT_FALSE(agent);
  EXPECT_NE(agent.error().find("could not register (exit status 1)"), std::string::npos) << agent.error();
}

TEST(TerminalAgentTest, AnAgentThatNeverRegistersIsStoppedAtTheLimit) {
  TempDir dir;
  const auto script = dir / "hanging-agent";
  bcn::testing::writeText(script, "#!/bin/sh\nexec sleep 30\n");
  std::filesystem::permissions(script, std::filesystem::perms(0755));
  const auto started = std::chrono::steady_clock::now();
  auto agent = TerminalAgent::start(::getpid(), 300ms, script.string());
  ASSERT_FALSE(agent);
  EXPECT_NE(agent.error().find("did not register"), std::string::npos) << agent.error();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

// In a child that is a session leader with a pseudo-terminal as its
// controlling terminal, as a login on a text console is.
int withTerminal(const std::function<int()>& body) {
  return bcn::testing::runInChild([&] {
    if (::setsid() < 0) return 90;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return 91;
    const int terminal = ::open(::ptsname(master), O_RDWR);
    if (terminal < 0 || ::ioctl(terminal, TIOCSCTTY, 0) != 0) return 92;
    return body();
  });
}

TEST(TerminalAgentTest, PolkitsAgentRegistersOnceForAProcessWithATerminal) {
  if (!bcn::testing::runningAsRoot() || std::getenv("BCN_POLKIT_TEST") == nullptr) {
    GTEST_SKIP() << "needs polkitd and the system bus; run scripts/test.sh as root";
  }
  EXPECT_EQ(withTerminal([] {
              if (!TerminalAgent::terminalAvailable()) return 1;
              auto agent = TerminalAgent::start(::getpid());
              if (!agent) return 2;
              // The subject has its agent now; a second one is refused.
              if (TerminalAgent::start(::getpid())) return 3;
              return 0;
            }),
            0);
}

}  // namespace
}  // namespace bcn::cli
