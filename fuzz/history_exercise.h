// What a client does with a history right after loading it, for the
// history fuzz targets: query it as stored, restore the shape, prune, add
// and query again. Loaded numbers are hostile (NaN, infinities, negative
// or zero granularities, buckets out of order), so every step must stay
// defined behaviour. Test-only code.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>

#include "netcore/history/rate_history.h"

namespace bcn::fuzzing {

inline void exerciseHistory(RateHistory history) {
  (void)std::hash<RateHistory>{}(history);
  (void)history.hasTraffic();
  (void)history.isEmpty();
  // Instants near the stored data as well as fixed ones, so the windows
  // actually cut through the buckets.
  double newest = 0;
  if (!history.tiers.empty() && !history.tiers.front().buckets.empty()) {
    newest = history.tiers.front().buckets.back().start;
  }
  const double instants[] = {newest, newest + 61, 700'000'000, std::numeric_limits<double>::quiet_NaN()};
  const double periods[] = {60, 3600, 86'400, std::numeric_limits<double>::infinity()};
  for (double now : instants) {
    for (double period : periods) {
      const RateAggregate total = history.aggregate(period, Date{now});
      (void)total.averageIn();
      (void)total.averageOut();
    }
  }
  for (std::int64_t count :
       {std::int64_t{-1}, std::int64_t{0}, std::int64_t{3}, std::numeric_limits<std::int64_t>::max()}) {
    (void)history.recentSamples(count);
  }

  history.apply({600, 86'400, 2'592'000});
  // Whatever was stored, the shape is now one that samples cannot grow
  // without bound: three tiers of finite granularity, increasing, with
  // only the first allowed to be 0.
  if (history.tiers.size() != 3) __builtin_trap();
  for (std::size_t i = 0; i < 3; ++i) {
    const double g = history.tiers[i].granularity;
    if (!std::isfinite(g) || g < 0 || (i > 0 && !(g > history.tiers[i - 1].granularity))) __builtin_trap();
  }
  history.add({Date{newest + 30}, 30, 1000, 2000});
  history.add({Date{newest + 90}, 30, std::numeric_limits<std::uint64_t>::max(), 1});
  history.prune(Date{newest + 120});
  (void)history.aggregate(3600, Date{newest + 120});
  (void)history.recentSamples(10);
  (void)std::hash<RateHistory>{}(history);
}

}  // namespace bcn::fuzzing
