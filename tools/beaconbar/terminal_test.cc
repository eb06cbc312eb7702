#include "tools/beaconbar/terminal.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tools/beaconbar/signal_waiter.h"

namespace bcn::cli {
namespace {

TEST(RedrawTest, FirstDrawWritesTheLines) { EXPECT_EQ(redrawSequence(0, {"a", "b"}), "\x1b[2Ka\n\x1b[2Kb\n"); }

TEST(RedrawTest, LaterDrawsGoBackOverThePreviousLines) {
  EXPECT_EQ(redrawSequence(2, {"c", "d"}), "\x1b[2F\x1b[2Kc\n\x1b[2Kd\n");
  // A shorter block clears what the longer one left below it.
  EXPECT_EQ(redrawSequence(3, {"e"}), "\x1b[3F\x1b[2Ke\n\x1b[J");
}

TEST(SpinnerTest, FramesTurnAndOverwriteTheLine) {
  EXPECT_EQ(spinnerLine(0, "Looking"), "\r\x1b[2K| Looking");
  EXPECT_EQ(spinnerLine(1, "Looking"), "\r\x1b[2K/ Looking");
  EXPECT_EQ(spinnerLine(4, "Looking"), spinnerLine(0, "Looking"));
  EXPECT_EQ(spinnerClear(), "\r\x1b[2K");
}

TEST(LiveBlockTest, HidesTheCursorAndRedrawsInPlace) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  {
    LiveBlock block(stream);
    block.show({"one", "two"});
    block.show({"three"});
  }
  std::rewind(stream);
  char buffer[256] = {};
  const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, stream);
  std::fclose(stream);
  EXPECT_EQ(std::string(buffer, n), "\x1b[?25l\x1b[2Kone\n\x1b[2Ktwo\n\x1b[2F\x1b[2Kthree\n\x1b[J\x1b[?25h");
}

TEST(SignalWaiterTest, WaitsForTheTimeOrASignal) {
  SignalWaiter signals;
  EXPECT_FALSE(signals.waitFor(std::chrono::milliseconds(20)));
  // Blocked, so the signal waits for sigtimedwait instead of ending the test.
  ASSERT_EQ(raise(SIGINT), 0);
  EXPECT_TRUE(signals.waitFor(std::chrono::seconds(5)));
  EXPECT_EQ(signals.signal(), SIGINT);
  EXPECT_TRUE(signals.waitFor(std::chrono::seconds(5)));
}

}  // namespace
}  // namespace bcn::cli
