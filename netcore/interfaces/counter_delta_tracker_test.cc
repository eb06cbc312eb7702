#include "netcore/interfaces/counter_delta_tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using bcn::CounterDeltaTracker;
using bcn::Date;
using bcn::InterfaceCounters;
using bcn::RateSample;

InterfaceCounters bytes(std::uint64_t in, std::uint64_t out) {
  InterfaceCounters c;
  c.bytesIn = in;
  c.bytesOut = out;
  return c;
}

Date at(double seconds) { return Date{seconds}; }

TEST(CounterDeltaTracker, FirstReadingOnlyStoresTheBaseline) {
  CounterDeltaTracker t;
  EXPECT_FALSE(t.update("en0", bytes(1000, 500), at(100), 30).has_value());
  const auto s = t.update("en0", bytes(6000, 500), at(110), 30);
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(*s, (RateSample{at(110), 10, 5000, 0}));
  EXPECT_DOUBLE_EQ(s->rateIn(), 500);
}

TEST(CounterDeltaTracker, KeysAreIndependent) {
  CounterDeltaTracker t;
  t.update("en0", bytes(0, 0), at(0), 30);
  EXPECT_FALSE(t.update("en1", bytes(10, 10), at(5), 30).has_value());
  EXPECT_EQ(t.update("en0", bytes(7, 9), at(5), 30), (RateSample{at(5), 5, 7, 9}));
}

TEST(CounterDeltaTracker, TooLongIntervalIsRefusedButBecomesTheBaseline) {
  CounterDeltaTracker t;
  t.update("en0", bytes(0, 0), at(0), 30);
  EXPECT_FALSE(t.update("en0", bytes(100, 100), at(31), 30).has_value());
  EXPECT_EQ(t.update("en0", bytes(150, 130), at(36), 30), (RateSample{at(36), 5, 50, 30}));
  // Exactly maxGap still counts.
  EXPECT_EQ(t.update("en0", bytes(150, 130), at(66), 30), (RateSample{at(66), 30, 0, 0}));
}

TEST(CounterDeltaTracker, NonPositiveIntervalsGiveNothingAndMoveTheBaseline) {
  CounterDeltaTracker t;
  t.update("en0", bytes(100, 100), at(50), 30);
  EXPECT_FALSE(t.update("en0", bytes(200, 200), at(50), 30).has_value());
  EXPECT_FALSE(t.update("en0", bytes(300, 300), at(40), 30).has_value());
  // Measured from the earlier-dated reading that replaced the stored one.
  EXPECT_EQ(t.update("en0", bytes(310, 300), at(45), 30), (RateSample{at(45), 5, 10, 0}));
}

TEST(CounterDeltaTracker, CounterGoingBackwardsIsANewBaseline) {
  CounterDeltaTracker t;
  t.update("en0", bytes(9000, 100), at(0), 30);
  EXPECT_FALSE(t.update("en0", bytes(100, 5000), at(1), 30).has_value());
  EXPECT_EQ(t.update("en0", bytes(400, 5000), at(2), 30), (RateSample{at(2), 1, 300, 0}));
  EXPECT_FALSE(t.update("en0", bytes(500, 4999), at(3), 30).has_value());  // bytes out alone
  // No modular arithmetic across a wrap either.
  t.update("en0", bytes(std::numeric_limits<std::uint64_t>::max(), 0), at(4), 30);
  EXPECT_FALSE(t.update("en0", bytes(5, 0), at(5), 30).has_value());
}

TEST(CounterDeltaTracker, OnlyByteCountersMatter) {
  CounterDeltaTracker t;
  InterfaceCounters first = bytes(10, 10);
  first.packetsIn = 100;
  first.errorsOut = 7;
  t.update("en0", first, at(0), 30);
  InterfaceCounters second = bytes(20, 10);  // packets and errors went "backwards"
  EXPECT_EQ(t.update("en0", second, at(2), 30), (RateSample{at(2), 2, 10, 0}));
}

TEST(CounterDeltaTracker, NanOrNegativeMaxGapRefusesEverything) {
  CounterDeltaTracker t;
  t.update("en0", bytes(0, 0), at(0), 30);
  EXPECT_FALSE(t.update("en0", bytes(1, 1), at(1), std::nan("")).has_value());
  EXPECT_FALSE(t.update("en0", bytes(2, 2), at(2), -1).has_value());
  EXPECT_FALSE(t.update("en0", bytes(3, 3), at(std::nan("")), 30).has_value());
  // A NaN instant as baseline refuses the next interval too, then heals.
  EXPECT_FALSE(t.update("en0", bytes(3, 3), at(3), std::numeric_limits<double>::infinity()).has_value());
  EXPECT_TRUE(t.update("en0", bytes(4, 4), at(4), std::numeric_limits<double>::infinity()).has_value());
}

TEST(CounterDeltaTracker, RetainForgetsOtherKeys) {
  CounterDeltaTracker t;
  t.update("en0", bytes(0, 0), at(0), 30);
  t.update("en1", bytes(0, 0), at(0), 30);
  t.retain({"en1"});
  EXPECT_FALSE(t.update("en0", bytes(10, 10), at(1), 30).has_value());  // starts over
  EXPECT_TRUE(t.update("en1", bytes(10, 10), at(1), 30).has_value());
  t.retain({});
  EXPECT_FALSE(t.update("en0", bytes(20, 20), at(2), 30).has_value());
  EXPECT_FALSE(t.update("en1", bytes(20, 20), at(2), 30).has_value());
}

}  // namespace
