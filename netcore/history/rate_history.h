// RateHistory: the traffic history of one interface at three resolutions at
// once. Every sample goes into a raw tier (one bucket per sample), a minute
// tier and an hour tier (sums per UTC clock minute and hour; the 2001 epoch
// is an exact hour). Each tier forgets buckets after its own retention, but
// only when the owner calls prune(). Queries take each stretch of a period
// from the finest tier that still holds it.
//
// Times are seconds since 2001-01-01 UTC (Date). Samples are expected in
// non-decreasing end order; an older one is kept but opens a new bucket.
//
// A plain value with no internal synchronisation: one owner mutates it at a
// time. A history made here has exactly three tiers; a decoded one
// (history_coding.h) has whatever tiers were stored until apply() restores
// the shape (see there for what it keeps). The default value has no tiers.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "netcore/export.h"
#include "netcore/history/history_tier.h"
#include "netcore/history/rate_aggregate.h"
#include "netcore/history/rate_sample.h"
#include "platform/date.h"

namespace bcn {

struct NETCORE_EXPORT RateHistory {
  using Bucket = HistoryBucket;
  using Tier = HistoryTier;

  // How long each tier keeps its buckets, in seconds. No defaults: the
  // client chooses.
  struct Retention {
    double raw = 0;
    double minute = 0;
    double hour = 0;
    auto operator<=>(const Retention&) const = default;
  };

  static constexpr double kMinuteGranularity = 60;
  static constexpr double kHourGranularity = 3600;

  std::vector<Tier> tiers;

  RateHistory() = default;
  // Three tiers without buckets: raw (granularity 0), minute (60), hour (3600).
  explicit RateHistory(const Retention& retention);

  // With exactly three tiers, sets their retentions and keeps every bucket;
  // with any other number, starts over with three empty tiers. Does not
  // prune: the new retention takes effect at the next prune().
  //
  // Stored granularities are kept unless no history could have made them:
  // a tier whose granularity or retention is NaN, infinite or negative, or
  // a minute or hour tier of granularity 0, takes this history's own
  // granularity (0, 60, 3600) and keeps only the buckets that fit it (a
  // finite start, on one of its interval edges); when the granularities do
  // not increase from tier to tier, every tier not already at its own
  // granularity is rebuilt that way.
  void apply(const Retention& retention);

  // Files the sample into every tier, in tier order. A sample whose
  // duration is not greater than 0 (NaN included) is ignored.
  void add(const RateSample& sample);

  // Drops from every tier the buckets whose whole interval has aged past
  // the tier's retention as seen at `now`.
  void prune(Date now);

  // The newest `count` buckets of the first tier, oldest first, as samples
  // (for the raw tier, exactly the samples added). Empty for a count of 0
  // or less and for a history without tiers.
  std::vector<RateSample> recentSamples(std::int64_t count) const;

  // The traffic of the `period` seconds before `now`. Buckets are bounded
  // on the older side only; a coarse bucket straddling the start of the
  // window is left out, a raw sample ending inside it counts whole, and no
  // stretch is taken from two tiers.
  RateAggregate aggregate(double period, Date now) const;

  // Calls `visit` with every bucket aggregate(period, now) combines and
  // the tier it comes from, finer tiers first and newest first within a
  // tier, so a caller can spread the same traffic over its own intervals.
  void forEachBucketIn(double period, Date now, const std::function<void(const Bucket&, const Tier&)>& visit) const;

  // No tier has any bucket.
  bool isEmpty() const;
  // Some bucket of some tier has a non-zero byte count.
  bool hasTraffic() const;

  bool operator==(const RateHistory&) const = default;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::RateHistory::Retention> {
  std::size_t operator()(const bcn::RateHistory::Retention& r) const noexcept;
};

template <>
struct NETCORE_EXPORT std::hash<bcn::RateHistory> {
  std::size_t operator()(const bcn::RateHistory& h) const noexcept;
};
