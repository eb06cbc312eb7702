#include "netcore/history/rate_history.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace bcn {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const RateHistory::Retention kRetention{600, 86'400, 2'592'000};

RateSample sample(double end, double duration, std::uint64_t in, std::uint64_t out = 0) {
  return {Date{end}, duration, in, out};
}

std::vector<double> starts(const RateHistory::Tier& tier) {
  std::vector<double> result;
  for (const auto& b : tier.buckets) result.push_back(b.start);
  return result;
}

// Sum of `samples` as an aggregate, each sample its own interval.
RateAggregate sumOf(const std::vector<RateSample>& samples) {
  RateAggregate a;
  for (const auto& s : samples) {
    a.combine({s.duration, s.bytesIn, s.bytesOut, s.rateIn(), s.rateIn(), s.rateOut(), s.rateOut()});
  }
  return a;
}

TEST(RateHistoryShapeTest, NewHistoryHasThreeEmptyTiers) {
  const RateHistory h(kRetention);
  ASSERT_EQ(h.tiers.size(), 3u);
  EXPECT_EQ(h.tiers[0].granularity, 0);
  EXPECT_EQ(h.tiers[1].granularity, 60);
  EXPECT_EQ(h.tiers[2].granularity, 3600);
  EXPECT_EQ(h.tiers[0].retention, 600);
  EXPECT_EQ(h.tiers[1].retention, 86'400);
  EXPECT_EQ(h.tiers[2].retention, 2'592'000);
  EXPECT_TRUE(h.isEmpty());
  EXPECT_FALSE(h.hasTraffic());
}

TEST(RateHistoryShapeTest, ApplyKeepsBucketsOfThreeTiersAndResetsOtherShapes) {
  RateHistory h(kRetention);
  h.add(sample(120.5, 2, 10));
  h.apply({1, 2, 3});
  EXPECT_EQ(h.tiers[0].retention, 1);
  EXPECT_EQ(h.tiers[1].retention, 2);
  EXPECT_EQ(h.tiers[2].retention, 3);
  EXPECT_EQ(h.tiers[1].granularity, 60);
  EXPECT_EQ(h.tiers[0].buckets.size(), 1u);  // no pruning on apply

  RateHistory twoTiers = h;
  twoTiers.tiers.pop_back();
  twoTiers.apply(kRetention);
  EXPECT_EQ(twoTiers, RateHistory(kRetention));

  RateHistory none;
  none.apply(kRetention);
  EXPECT_EQ(none, RateHistory(kRetention));
}

TEST(RateHistoryShapeTest, ApplyKeepsEveryStoredShapeThatCouldHaveBeenMade) {
  // Coarser or finer than this history's own, even a summing first tier:
  // all of it loads as stored.
  for (const std::array<double, 3>& g : {std::array<double, 3>{0, 120, 7200}, {10, 60, 3600}, {0, 1, 1e9}}) {
    RateHistory h;
    for (double granularity : g) h.tiers.push_back({granularity, 5, {}});
    for (auto& tier : h.tiers) tier.add(sample(14'400.5, 2, 10));
    RateHistory expected = h;
    for (std::size_t i = 0; i < 3; ++i) expected.tiers[i].retention = std::array{1.0, 2.0, 3.0}[i];
    h.apply({1, 2, 3});
    EXPECT_EQ(h, expected) << g[0] << " " << g[1] << " " << g[2];
  }
}

TEST(RateHistoryShapeTest, ApplyRebuildsATierNoHistoryCouldHaveMade) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    std::array<double, 3> granularity;
    std::array<double, 3> retention;
    std::array<bool, 3> rebuilt;
  };
  const Case cases[] = {
      {{0, kNaN, 3600}, {600, 600, 600}, {false, true, false}},
      {{0, 60, kInf}, {600, 600, 600}, {false, false, true}},
      {{-1, 60, 3600}, {600, 600, 600}, {true, false, false}},
      {{0, 0, 3600}, {600, 600, 600}, {false, true, false}},  // a minute tier that would keep samples
      {{0, 60, 0}, {600, 600, 600}, {false, false, true}},
      {{0, 60, 3600}, {600, kNaN, 600}, {false, true, false}},
      {{0, 60, 3600}, {-kInf, 600, 600}, {true, false, false}},
      // Out of order: the tiers not at their own granularity are rebuilt.
      {{0, 3600, 60}, {600, 600, 600}, {false, true, true}},
      {{0, 60, 60}, {600, 600, 600}, {false, false, true}},
      {{7200, 60, 3600}, {600, 600, 600}, {true, false, false}},
      // A rebuilt tier must also fit between its neighbours.
      {{120, kNaN, 3600}, {600, 600, 600}, {true, true, false}},
  };
  const std::array<double, 3> own{0, 60, 3600};
  for (const Case& c : cases) {
    RateHistory h;
    for (std::size_t i = 0; i < 3; ++i) {
      HistoryTier tier{c.granularity[i], c.retention[i], {}};
      // One bucket on an interval edge of every own granularity, one on
      // none of them, one that fits no tier at all.
      tier.buckets.push_back(HistoryBucket::ofSample(7200, sample(7200, 1, 1)));
      tier.buckets.push_back(HistoryBucket::ofSample(7201.5, sample(7201.5, 1, 2)));
      tier.buckets.push_back(HistoryBucket::ofSample(kNaN, sample(7202, 1, 3)));
      h.tiers.push_back(tier);
    }
    const RateHistory stored = h;
    h.apply(kRetention);
    const std::string what = ::testing::PrintToString(c.granularity) + ::testing::PrintToString(c.retention);
    ASSERT_EQ(h.tiers.size(), 3u) << what;
    EXPECT_EQ(h.tiers[0].retention, kRetention.raw) << what;
    EXPECT_EQ(h.tiers[1].retention, kRetention.minute) << what;
    EXPECT_EQ(h.tiers[2].retention, kRetention.hour) << what;
    for (std::size_t i = 0; i < 3; ++i) {
      const HistoryTier& tier = h.tiers[i];
      if (!c.rebuilt[i]) {
        // Bit for bit, the NaN start included.
        const auto& before = stored.tiers[i].buckets;
        ASSERT_EQ(tier.buckets.size(), before.size()) << what << " tier " << i;
        for (std::size_t b = 0; b < before.size(); ++b) {
          EXPECT_EQ(std::memcmp(&tier.buckets[b], &before[b], sizeof(HistoryBucket)), 0) << what << " tier " << i;
        }
        EXPECT_EQ(tier.granularity, c.granularity[i]) << what << " tier " << i;
        continue;
      }
      EXPECT_EQ(tier.granularity, own[i]) << what << " tier " << i;
      // The raw tier keeps every finite start; the others only their edges.
      const std::vector<double> kept = i == 0 ? std::vector<double>{7200, 7201.5} : std::vector<double>{7200};
      EXPECT_EQ(starts(tier), kept) << what << " tier " << i;
    }
  }
}

TEST(RateHistoryShapeTest, AMinuteTierStoredWithoutGranularitySumsMinutesAgain) {
  RateHistory h(kRetention);
  h.tiers[1].granularity = 0;
  h.add(sample(125, 1, 10));
  h.add(sample(126, 1, 10));
  ASSERT_EQ(h.tiers[1].buckets.size(), 2u);  // what such a file holds: one bucket per sample
  h.apply(kRetention);
  EXPECT_EQ(h.tiers[1].granularity, 60);
  EXPECT_THAT(h.tiers[1].buckets, IsEmpty());  // neither starts on a minute
  h.add(sample(150, 1, 10));
  h.add(sample(170, 1, 10));
  ASSERT_THAT(starts(h.tiers[1]), ElementsAre(120));
  EXPECT_EQ(h.tiers[1].buckets[0].bytesIn, 20u);
}

TEST(RateHistoryAddTest, SampleGoesIntoEveryTierByItsEndInstant) {
  RateHistory h(kRetention);
  h.add(sample(120.5, 2, 1000, 10));
  EXPECT_THAT(starts(h.tiers[0]), ElementsAre(120.5));
  EXPECT_THAT(starts(h.tiers[1]), ElementsAre(120));
  EXPECT_THAT(starts(h.tiers[2]), ElementsAre(0));
  const auto& minute = h.tiers[1].buckets[0];
  EXPECT_EQ(minute.seconds, 2);
  EXPECT_EQ(minute.minIn, 500);
  EXPECT_EQ(minute.maxIn, 500);
  EXPECT_EQ(minute.minOut, 5);
  EXPECT_FALSE(h.isEmpty());
  EXPECT_TRUE(h.hasTraffic());

  h.add(sample(150, 4, 400, 0));
  EXPECT_THAT(starts(h.tiers[0]), ElementsAre(120.5, 150));
  ASSERT_EQ(h.tiers[1].buckets.size(), 1u);
  ASSERT_EQ(h.tiers[2].buckets.size(), 1u);
  for (const auto* b : {&h.tiers[1].buckets[0], &h.tiers[2].buckets[0]}) {
    EXPECT_EQ(b->seconds, 6);
    EXPECT_EQ(b->bytesIn, 1400u);
    EXPECT_EQ(b->bytesOut, 10u);
    EXPECT_EQ(b->minIn, 100);
    EXPECT_EQ(b->maxIn, 500);
    EXPECT_EQ(b->minOut, 0);
    EXPECT_EQ(b->maxOut, 5);
  }
}

TEST(RateHistoryAddTest, SampleEndingOnAnEdgeBelongsToTheIntervalStartingThere) {
  RateHistory h(kRetention);
  h.add(sample(3599.75, 30, 1));
  h.add(sample(3600, 30, 1));  // began in the previous minute and hour
  EXPECT_THAT(starts(h.tiers[1]), ElementsAre(3540, 3600));
  EXPECT_THAT(starts(h.tiers[2]), ElementsAre(0, 3600));
}

TEST(RateHistoryAddTest, NonPositiveOrNaNDurationChangesNothing) {
  RateHistory h(kRetention);
  h.add(sample(100, 1, 5));
  const RateHistory before = h;
  h.add(sample(110, 0, 5));
  h.add(sample(120, -3, 5));
  h.add(sample(130, std::numeric_limits<double>::quiet_NaN(), 5));
  EXPECT_EQ(h, before);
}

TEST(RateHistoryAddTest, OlderSampleOpensANewBucketAtTheEnd) {
  RateHistory h(kRetention);
  h.add(sample(200, 1, 1));
  h.add(sample(100, 1, 1));
  EXPECT_THAT(starts(h.tiers[1]), ElementsAre(180, 60));
  EXPECT_THAT(starts(h.tiers[2]), ElementsAre(0));
}

TEST(RateHistoryAddTest, ZeroByteSamplesAreHistoryWithoutTraffic) {
  RateHistory h(kRetention);
  h.add(sample(100, 1, 0, 0));
  EXPECT_FALSE(h.isEmpty());
  EXPECT_FALSE(h.hasTraffic());
  h.add(sample(101, 1, 0, 1));
  EXPECT_TRUE(h.hasTraffic());
}

TEST(RateHistoryPruneTest, BucketIsKeptUntilItsWholeIntervalHasAged) {
  RateHistory h({1e9, 900, 1e9});
  h.add(sample(30, 1, 1));
  h.add(sample(90, 1, 1));
  RateHistory h2 = h;
  h.prune(Date{1000});  // cutoff 100: end 60 goes, end 120 stays
  EXPECT_THAT(starts(h.tiers[1]), ElementsAre(60));
  EXPECT_EQ(h.tiers[0].buckets.size(), 2u);

  h2.apply({1e9, 880, 1e9});
  h2.prune(Date{1000});  // cutoff 120: an end equal to the cutoff has expired
  EXPECT_THAT(h2.tiers[1].buckets, IsEmpty());
  EXPECT_EQ(h2.tiers[2].buckets.size(), 1u);
}

TEST(RateHistoryPruneTest, RawSampleExpiresAtItsEndAndPruningStopsAtFirstKept) {
  RateHistory h({100, 1e9, 1e9});
  h.add(sample(50, 1, 1));
  h.add(sample(300, 1, 1));
  h.add(sample(60, 1, 1));  // out of order: behind a kept bucket, so it stays
  h.prune(Date{150});
  EXPECT_THAT(starts(h.tiers[0]), ElementsAre(300, 60));
  h.prune(Date{1000});
  EXPECT_THAT(h.tiers[0].buckets, IsEmpty());
}

TEST(RateHistoryRecentTest, ReturnsNewestRawSamplesOldestFirst) {
  RateHistory h(kRetention);
  const std::vector<RateSample> added{sample(10.25, 1.5, 1, 2), sample(20, 2, 3, 4), sample(31, 3, 5, 6)};
  for (const auto& s : added) h.add(s);
  EXPECT_THAT(h.recentSamples(2), ElementsAre(added[1], added[2]));
  EXPECT_EQ(h.recentSamples(99), added);
  EXPECT_THAT(h.recentSamples(0), IsEmpty());
  EXPECT_THAT(h.recentSamples(-1), IsEmpty());
  EXPECT_THAT(h.recentSamples(std::numeric_limits<std::int64_t>::min()), IsEmpty());
  EXPECT_THAT(RateHistory().recentSamples(5), IsEmpty());
}

TEST(RateHistoryAggregateTest, EmptyHistoryGivesEmptyAggregate) {
  EXPECT_EQ(RateHistory(kRetention).aggregate(3600, Date{1e6}), RateAggregate());
  EXPECT_EQ(RateHistory().aggregate(3600, Date{1e6}), RateAggregate());
}

TEST(RateHistoryAggregateTest, RawTierAloneServesAWindowItReachesBackOver) {
  RateHistory h(kRetention);
  std::vector<RateSample> all;
  for (int i = 1; i <= 30; ++i) all.push_back(sample(1000 + 10 * i, 10, 100 * i, i));
  for (const auto& s : all) h.add(s);
  // Cutoff 1100: the sample ending at 1100 is out, the one ending at 1110
  // counts whole although it began at 1100.
  const RateAggregate got = h.aggregate(200, Date{1300});
  EXPECT_EQ(got, sumOf({all.begin() + 10, all.end()}));
  EXPECT_EQ(got.seconds, 200);
}

TEST(RateHistoryAggregateTest, MinuteTierFillsInWhatRawNoLongerHolds) {
  RateHistory h(kRetention);
  std::vector<RateSample> all;
  for (int end = 10; end <= 7200; end += 10) all.push_back(sample(end, 10, end, 1));
  for (const auto& s : all) h.add(s);
  h.prune(Date{7200});
  ASSERT_EQ(h.tiers[0].buckets.front().start, 6610);
  // Cutoff 3600: raw hands over at 6660; minutes 3600..6600 fill in. Every
  // sample ending in [3600, 7200] counts once.
  std::vector<RateSample> expected(all.begin() + 359, all.end());
  ASSERT_EQ(expected.front().end.secondsSince2001, 3600);
  EXPECT_EQ(h.aggregate(3600, Date{7200}), sumOf(expected));
}

TEST(RateHistoryAggregateTest, HourTierFillsInAndStraddlingBucketIsLeftOut) {
  RateHistory h({600, 3600, 1e9});
  std::vector<RateSample> all;
  for (int end = 10; end <= 4 * 3600; end += 10) all.push_back(sample(end, 10, 1, 0));
  for (const auto& s : all) h.add(s);
  h.prune(Date{4 * 3600});
  // Raw from 13810 (hands over at 13860), minutes from 10800 (hands over at
  // 10800), hours below that. Cutoff 1800 lies inside hour [0, 3600), which
  // is left out: ends 3600..14400 count, 1081 samples.
  const RateAggregate got = h.aggregate(4 * 3600 - 1800, Date{4 * 3600});
  EXPECT_EQ(got.bytesIn, 1081u);
  EXPECT_EQ(got.seconds, 10810);
  // A cutoff on the hour edge takes that hour whole.
  EXPECT_EQ(h.aggregate(4 * 3600, Date{4 * 3600}).bytesIn, 1440u);
}

TEST(RateHistoryAggregateTest, YoungHistoryIsNotCountedTwice) {
  // Samples from 10:05 to 10:35 (seconds since the epoch hour). The oldest
  // minute's hour edge (11:00) lies beyond the raw tier's handover (10:26),
  // and the hour bucket [10:00, 11:00) holds everything raw holds too.
  RateHistory h(kRetention);
  const double start = 10 * 3600 + 5 * 60;
  const double now = 10 * 3600 + 35 * 60;
  std::vector<RateSample> all;
  for (double end = start; end <= now; end += 5) all.push_back(sample(end, 5, 5, 1));
  for (const auto& s : all) h.add(s);
  h.prune(Date{now});
  const RateAggregate got = h.aggregate(2 * 3600, Date{now});
  EXPECT_EQ(got, sumOf(all));
  EXPECT_EQ(got.averageIn(), 1);
}

}  // namespace
}  // namespace bcn
