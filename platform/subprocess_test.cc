#include "platform/subprocess.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

namespace bcn {
namespace {

using namespace std::chrono_literals;

ProcessResult run(const std::vector<std::string>& argv, ProcessOptions options = {}) {
  auto result = runProcess(argv, options);
  EXPECT_TRUE(result.has_value()) << (result ? "" : result.error().description);
  return result.value_or(ProcessResult{});
}

TEST(RunProcess, CollectsBothStreamsAndTheExitStatus) {
  auto r = run({"/bin/sh", "-c", "printf out; printf err >&2; exit 7"});
  EXPECT_TRUE(r.exited());
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.standardOutput, "out");
  EXPECT_EQ(r.standardError, "err");
  EXPECT_FALSE(r.timedOut);
}

TEST(RunProcess, LooksUpBareNamesInPath) {
  auto r = run({"sh", "-c", "exit 0"});
  EXPECT_EQ(r.exitCode, 0);
}

TEST(RunProcess, ReportsTheSignalThatEndedTheProgram) {
  auto r = run({"/bin/sh", "-c", "kill -TERM $$"});
  EXPECT_FALSE(r.exited());
  EXPECT_EQ(r.signal, SIGTERM);
}

TEST(RunProcess, AMissingProgramIsAnError) {
  auto r = runProcess({"/nonexistent/beaconbar-no-such-tool"});
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().code, ENOENT);
}

TEST(RunProcess, KillsAProgramThatOutlivesTheLimit) {
  auto start = std::chrono::steady_clock::now();
  auto r = run({"/bin/sh", "-c", "printf before; exec sleep 30"}, {.timeout = 300ms});
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.signal, SIGKILL);
  EXPECT_EQ(r.standardOutput, "before");
  EXPECT_LT(took, 5s);
}

TEST(RunProcess, KeepsOnlyTheFirstBytesOfAFloodWithoutBlockingTheChild) {
  // 4 MiB is far beyond a pipe's buffer: the child only finishes if we keep
  // reading after the cap.
  auto r = run({"/bin/sh", "-c", "head -c 4194304 /dev/zero; exit 3"}, {.maxOutputBytes = 1000});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.standardOutput.size(), 1000u);
}

TEST(RunProcess, DoesNotWaitForAGrandchildHoldingThePipes) {
  auto start = std::chrono::steady_clock::now();
  auto r = run({"/bin/sh", "-c", "sleep 20 & echo started"}, {.timeout = 10s});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.standardOutput, "started\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(RunProcess, TheChildGetsNoInputAndNoneOfOurDescriptors) {
  auto r = run({"/bin/sh", "-c", "cat; ls /proc/self/fd | wc -l"});
  // stdin, stdout, stderr and the descriptor ls opens for the listing.
  EXPECT_EQ(r.standardOutput, "4\n");
}

}  // namespace
}  // namespace bcn
