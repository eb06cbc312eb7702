#include "charts/chart_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "tools/beaconbar/history_file.h"

namespace bcn::charts {
namespace {

// Now is an hour edge and every sample ends 5 s past a 10 s step, so no
// sample ends on an interval edge and "inside the period" is simply
// end > now - period.
constexpr double kNow = 820'000'800;  // a multiple of 3600
static_assert(static_cast<long long>(kNow) % 3600 == 0);

struct Expected {
  RateAggregate total;
  std::map<double, std::uint64_t> bytesInPer;   // interval start -> bytes in
  std::map<double, std::uint64_t> bytesOutPer;  // interval start -> bytes out
};

class CannedHistory : public ::testing::Test {
 protected:
  void SetUp() override {
    history_ = RateHistory(cli::kHistoryRetention);
    // 31 days of one sample a minute, then the last two hours every 10 s,
    // with a 20-minute hole 40 to 20 minutes ago and a measured idle
    // stretch 10 to 5 minutes ago.
    const double dense = kNow - 2 * 3600;
    for (double end = kNow - 31 * 86400 + 5; end < dense; end += 60) add(end, 60);
    for (double end = dense + 5; end < kNow; end += 10) {
      if (end > kNow - 40 * 60 && end < kNow - 20 * 60) continue;
      const bool idle = end > kNow - 10 * 60 && end < kNow - 5 * 60;
      add(end, 10, idle);
    }
    history_.prune(Date{kNow});
  }

  void add(double end, double duration, bool idle = false) {
    const auto k = static_cast<std::uint64_t>(samples_.size());
    RateSample sample{Date{end}, duration, idle ? 0 : 1000 + (k * 7919) % 50'000, idle ? 0 : 300 + (k * 104'729) % 9'000};
    samples_.push_back(sample);
    history_.add(sample);
  }

  // Worked out from the samples themselves, not from the history.
  Expected expected(double period, double resolution) const {
    Expected e;
    for (const RateSample& s : samples_) {
      const double end = s.end.secondsSince2001;
      if (!(end > kNow - period)) continue;
      e.total.combine({s.duration, s.bytesIn, s.bytesOut, s.rateIn(), s.rateIn(), s.rateOut(), s.rateOut()});
      const double start = resolution * std::floor(end / resolution);
      e.bytesInPer[start] += s.bytesIn;
      e.bytesOutPer[start] += s.bytesOut;
    }
    return e;
  }

  RateHistory history_;
  std::vector<RateSample> samples_;
};

TEST_F(CannedHistory, EveryPeriodAddsUpToTheRecordedTrafficAndTheHistorysOwnAggregate) {
  for (ChartPeriod period : kChartPeriods) {
    const ChartPeriodInfo info = periodInfo(period);
    SCOPED_TRACE(std::string(info.keyword));
    const ChartSeries series = chartSeries(history_, period, Date{kNow});
    const Expected e = expected(info.seconds, info.resolution);

    EXPECT_EQ(series.total, history_.aggregate(info.seconds, Date{kNow}));
    EXPECT_EQ(series.total.bytesIn, e.total.bytesIn);
    EXPECT_EQ(series.total.bytesOut, e.total.bytesOut);
    EXPECT_DOUBLE_EQ(series.total.seconds, e.total.seconds);
    EXPECT_DOUBLE_EQ(series.total.minIn, e.total.minIn);
    EXPECT_DOUBLE_EQ(series.total.maxIn, e.total.maxIn);
    EXPECT_DOUBLE_EQ(series.total.minOut, e.total.minOut);
    EXPECT_DOUBLE_EQ(series.total.maxOut, e.total.maxOut);
    EXPECT_DOUBLE_EQ(series.resolution, info.resolution);
    EXPECT_DOUBLE_EQ(series.to - series.from, info.seconds);

    std::map<double, std::uint64_t> in, out;
    RateAggregate summed;
    for (const ChartPoint& p : series.points) {
      EXPECT_EQ(std::fmod(p.start, info.resolution), 0.0) << p.start;
      in[p.start] = p.traffic.bytesIn;
      out[p.start] = p.traffic.bytesOut;
      summed.combine(p.traffic);
    }
    EXPECT_EQ(in, e.bytesInPer);
    EXPECT_EQ(out, e.bytesOutPer);
    EXPECT_EQ(summed, series.total);
    EXPECT_TRUE(std::is_sorted(series.points.begin(), series.points.end(),
                               [](const ChartPoint& a, const ChartPoint& b) { return a.start < b.start; }));
  }
}

TEST_F(CannedHistory, UnrecordedMinutesAreGapsAndIdleMinutesAreZeroPoints) {
  const ChartSeries hour = chartSeries(history_, ChartPeriod::kHour, Date{kNow});
  std::map<double, const ChartPoint*> byStart;
  for (const ChartPoint& p : hour.points) byStart[p.start] = &p;

  for (int minute = 1; minute <= 60; ++minute) {
    const double start = kNow - minute * 60;
    const bool hole = start >= kNow - 40 * 60 && start < kNow - 20 * 60;
    const bool idle = start >= kNow - 10 * 60 && start < kNow - 5 * 60;
    SCOPED_TRACE(minute);
    if (hole) {
      EXPECT_FALSE(byStart.contains(start));
      continue;
    }
    ASSERT_TRUE(byStart.contains(start));
    const RateAggregate& t = byStart[start]->traffic;
    EXPECT_DOUBLE_EQ(t.seconds, 60);
    if (idle) {
      EXPECT_EQ(t.bytesIn + t.bytesOut, 0u);
      EXPECT_EQ(t.averageIn(), 0);
    } else {
      EXPECT_GT(t.averageIn(), 0);
    }
  }
  // The hour that holds the hole counts only the time that was measured.
  const ChartSeries day = chartSeries(history_, ChartPeriod::kDay, Date{kNow});
  ASSERT_FALSE(day.points.empty());
  EXPECT_EQ(day.points.back().start, kNow - 3600);
  EXPECT_DOUBLE_EQ(day.points.back().traffic.seconds, 40 * 60);
}

TEST(ChartData, DamagedBucketsCountInTheTotalButAreNotPlaced) {
  RateHistory history(cli::kHistoryRetention);
  history.add({Date{kNow - 100}, 10, 500, 200});
  HistoryBucket odd = history.tiers[0].buckets.back();
  odd.start = std::numeric_limits<double>::quiet_NaN();
  history.tiers[0].buckets.push_back(odd);

  const ChartSeries series = chartSeries(history, ChartPeriod::kHour, Date{kNow});
  EXPECT_EQ(series.total.bytesIn, history.aggregate(3600, Date{kNow}).bytesIn);
  ASSERT_EQ(series.points.size(), 1u);
  EXPECT_EQ(series.points[0].traffic.bytesIn, 500u);
}

TEST(ChartData, PeriodsByKeywordAndEveryHistoryInKeyOrder) {
  EXPECT_EQ(parseChartPeriod("hour"), ChartPeriod::kHour);
  EXPECT_EQ(parseChartPeriod("day"), ChartPeriod::kDay);
  EXPECT_EQ(parseChartPeriod("month"), ChartPeriod::kMonth);
  EXPECT_FALSE(parseChartPeriod("week"));
  EXPECT_FALSE(parseChartPeriod(""));

  HistoryMap histories;
  histories["wlan0"] = RateHistory(cli::kHistoryRetention);
  histories["eth0"] = RateHistory(cli::kHistoryRetention);
  histories["eth0"].add({Date{kNow - 30}, 10, 7, 9});
  const auto charts = chartData(histories, Date{kNow});
  ASSERT_EQ(charts.size(), 2u);
  EXPECT_EQ(charts[0].name, "eth0");
  EXPECT_EQ(charts[1].name, "wlan0");
  EXPECT_EQ(charts[0].periods[2].period, ChartPeriod::kMonth);
  EXPECT_EQ(charts[0].periods[2].total.bytesOut, 9u);
  EXPECT_TRUE(charts[1].periods[0].points.empty());
}

}  // namespace
}  // namespace bcn::charts
