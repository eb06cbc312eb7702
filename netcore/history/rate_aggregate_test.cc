#include "netcore/history/rate_aggregate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "netcore/history/rate_sample.h"
#include "netcore/history/testing/non_finite.h"

namespace bcn {
namespace {

using testing::kInf;
using testing::kNaN;

RateAggregate interval(double seconds, std::uint64_t in, std::uint64_t out, double minIn,
                       double maxIn, double minOut, double maxOut) {
  return {seconds, in, out, minIn, maxIn, minOut, maxOut};
}

TEST(RateSampleTest, RatesAreBytesOverDuration) {
  const RateSample s{Date{10}, 2, 1000, 0};
  EXPECT_EQ(s.rateIn(), 500);
  EXPECT_EQ(s.rateOut(), 0);
}

TEST(RateSampleTest, ZeroDurationGivesInfinityOrNaN) {
  const RateSample s{Date{10}, 0, 1000, 0};
  EXPECT_EQ(s.rateIn(), kInf);
  EXPECT_TRUE(std::isnan(s.rateOut()));
}

TEST(RateAggregateTest, FreshAggregateIsTheIdentity) {
  const RateAggregate a;
  EXPECT_TRUE(a.isEmpty());
  EXPECT_EQ(a.averageIn(), 0);
  EXPECT_EQ(a.averageOut(), 0);
  EXPECT_EQ(a.minIn, kInf);
  EXPECT_EQ(a.minOut, kInf);
  EXPECT_EQ(a.maxIn, 0);
  EXPECT_EQ(a.maxOut, 0);
}

TEST(RateAggregateTest, AveragesAreTimeWeighted) {
  RateAggregate a;
  a.combine(interval(1, 100, 10, 100, 100, 10, 10));
  a.combine(interval(3, 900, 30, 300, 300, 10, 10));
  EXPECT_FALSE(a.isEmpty());
  EXPECT_EQ(a.seconds, 4);
  EXPECT_EQ(a.bytesIn, 1000u);
  EXPECT_EQ(a.averageIn(), 250);  // not the mean of the rates, 200
  EXPECT_EQ(a.averageOut(), 10);
  EXPECT_EQ(a.minIn, 100);
  EXPECT_EQ(a.maxIn, 300);
}

TEST(RateAggregateTest, CombiningIntoEmptyTakesTheIntervalsRange) {
  RateAggregate a;
  const RateAggregate one = interval(5, 50, 7, 3, 40, 0.5, 2);
  a.combine(one);
  EXPECT_EQ(a, one);
}

TEST(RateAggregateTest, NaNRatesLeaveMinAndMaxUnchanged) {
  RateAggregate a;
  a.combine(interval(1, 10, 10, 4, 8, 4, 8));
  a.combine(interval(1, 0, 0, kNaN, kNaN, kNaN, kNaN));
  EXPECT_EQ(a.minIn, 4);
  EXPECT_EQ(a.maxIn, 8);
  EXPECT_EQ(a.minOut, 4);
  EXPECT_EQ(a.maxOut, 8);
  EXPECT_EQ(a.seconds, 2);
}

TEST(RateAggregateTest, EqualMaximumReplacesAndEqualMinimumDoesNot) {
  // -0.0 == 0.0, so only the sign bit shows which value was kept.
  RateAggregate a;
  a.minIn = 0;
  a.combine(interval(1, 0, 0, -0.0, -0.0, 1, 1));
  EXPECT_FALSE(std::signbit(a.minIn));
  EXPECT_TRUE(std::signbit(a.maxIn));
}

}  // namespace
}  // namespace bcn
