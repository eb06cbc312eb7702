#include "netcore/history/rate_aggregate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

#include "netcore/history/rate_sample.h"

namespace bcn {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

TEST(RateSampleTest, EqualityAndHashCoverEveryField) {
  const RateSample base{Date{100.5}, 2, 10, 20};
  const RateSample variants[] = {{Date{100.25}, 2, 10, 20},
                                 {Date{100.5}, 2.5, 10, 20},
                                 {Date{100.5}, 2, 11, 20},
                                 {Date{100.5}, 2, 10, 21}};
  std::unordered_set<RateSample> set{base};
  for (const auto& v : variants) {
    EXPECT_NE(v, base);
    set.insert(v);
  }
  EXPECT_EQ(set.size(), 5u);
  EXPECT_EQ(std::hash<RateSample>{}(base), std::hash<RateSample>{}(RateSample{Date{100.5}, 2, 10, 20}));
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

TEST(RateAggregateTest, EqualityAndHashCoverEveryField) {
  const RateAggregate base = interval(1, 2, 3, 4, 5, 6, 7);
  std::unordered_set<RateAggregate> set{base};
  for (int field = 0; field < 7; ++field) {
    RateAggregate v = base;
    switch (field) {
      case 0: v.seconds += 1; break;
      case 1: v.bytesIn += 1; break;
      case 2: v.bytesOut += 1; break;
      case 3: v.minIn += 1; break;
      case 4: v.maxIn += 1; break;
      case 5: v.minOut += 1; break;
      case 6: v.maxOut += 1; break;
    }
    EXPECT_NE(v, base) << field;
    set.insert(v);
  }
  EXPECT_EQ(set.size(), 8u);
}

}  // namespace
}  // namespace bcn
