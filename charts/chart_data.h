// What the history charts draw, computed from the traffic history: per
// interface and period (the last hour at minute resolution, the last day
// and the last 30 days at hour resolution) the traffic of each interval and
// the traffic of the whole period. Plain C++ over NetCore's history, so the
// tray's window and beaconbar-chart draw the same numbers and the tests
// need no display.
//
// The period takes exactly the buckets RateHistory::aggregate() takes, so
// a period's total is the history's own aggregate for it. Each bucket is
// spread into the interval containing its start (a raw sample's end, a
// minute's or hour's start edge), which is where its tier filed it.
// Intervals where nothing was measured have no point at all: a gap in the
// recording stays a gap instead of reading as idle, while a measured idle
// interval is a point with 0 bytes. An interval only partly measured has
// the average rate of its measured time.
//
// Pure functions; thread-safe. Results are plain values.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/history/history_store.h"
#include "netcore/history/rate_aggregate.h"
#include "netcore/history/rate_history.h"
#include "platform/date.h"

namespace bcn::charts {

enum class ChartPeriod { kHour, kDay, kMonth };

inline constexpr std::array<ChartPeriod, 3> kChartPeriods{ChartPeriod::kHour, ChartPeriod::kDay, ChartPeriod::kMonth};

struct ChartPeriodInfo {
  double seconds;     // length of the period, ending now
  double resolution;  // seconds per interval (point)
  std::string_view keyword;  // as the command line spells it: hour, day, month
  std::string_view title;    // "last hour", "last day", "last 30 days"
};

ChartPeriodInfo periodInfo(ChartPeriod period);

// "hour", "day" or "month"; anything else is empty.
std::optional<ChartPeriod> parseChartPeriod(std::string_view keyword);

struct ChartPoint {
  double start = 0;       // seconds since 2001-01-01 UTC, a multiple of the resolution
  RateAggregate traffic;  // what was measured in [start, start + resolution)
};

struct ChartSeries {
  ChartPeriod period = ChartPeriod::kHour;
  double resolution = 60;
  double from = 0;  // now - the period's length
  double to = 0;    // now
  // Oldest first, at most one per interval; unmeasured intervals are absent.
  std::vector<ChartPoint> points;
  // The whole period: equal to RateHistory::aggregate(period, now). A
  // bucket of a damaged file whose start is not a finite time counts here
  // but has no interval to be drawn in.
  RateAggregate total;
};

struct InterfaceCharts {
  std::string name;
  std::array<ChartSeries, 3> periods;  // in kChartPeriods order
};

ChartSeries chartSeries(const RateHistory& history, ChartPeriod period, Date now);

// One entry per history, in key order.
std::vector<InterfaceCharts> chartData(const HistoryMap& histories, Date now);

}  // namespace bcn::charts
