#include "charts/chart_data.h"

#include <cmath>
#include <map>

namespace bcn::charts {

ChartPeriodInfo periodInfo(ChartPeriod period) {
  switch (period) {
    case ChartPeriod::kHour:
      return {3600, RateHistory::kMinuteGranularity, "hour", "last hour"};
    case ChartPeriod::kDay:
      return {86400, RateHistory::kHourGranularity, "day", "last day"};
    case ChartPeriod::kMonth:
      break;
  }
  return {30 * 86400, RateHistory::kHourGranularity, "month", "last 30 days"};
}

std::optional<ChartPeriod> parseChartPeriod(std::string_view keyword) {
  for (ChartPeriod period : kChartPeriods) {
    if (periodInfo(period).keyword == keyword) return period;
  }
  return std::nullopt;
}

ChartSeries chartSeries(const RateHistory& history, ChartPeriod period, Date now) {
  const ChartPeriodInfo info = periodInfo(period);
  ChartSeries series;
  series.period = period;
  series.resolution = info.resolution;
  series.to = now.secondsSince2001;
  series.from = series.to - info.seconds;

  // Keyed by interval start; a damaged file can hold at most as many
  // buckets as its size allows, so this stays as small as the file.
  std::map<double, RateAggregate> intervals;
  history.forEachBucketIn(info.seconds, now, [&](const HistoryBucket& bucket, const HistoryTier&) {
    const RateAggregate traffic = bucket.summary();
    series.total.combine(traffic);
    if (!std::isfinite(bucket.start)) return;
    const double start = info.resolution * std::floor(bucket.start / info.resolution);
    if (!std::isfinite(start)) return;
    intervals[start].combine(traffic);
  });
  series.points.reserve(intervals.size());
  for (const auto& [start, traffic] : intervals) series.points.push_back({start, traffic});
  return series;
}

std::vector<InterfaceCharts> chartData(const HistoryMap& histories, Date now) {
  std::vector<InterfaceCharts> charts;
  charts.reserve(histories.size());
  for (const auto& [name, history] : histories) {
    InterfaceCharts entry{name, {}};
    for (std::size_t i = 0; i < kChartPeriods.size(); ++i) entry.periods[i] = chartSeries(history, kChartPeriods[i], now);
    charts.push_back(std::move(entry));
  }
  return charts;
}

}  // namespace bcn::charts
