// The two building blocks of a RateHistory (rate_history.h), reachable as
// RateHistory::Bucket and RateHistory::Tier.
//
// HistoryBucket: one summarised interval. In the raw tier it holds exactly
// one sample and `start` is that sample's end; in coarser tiers `start` is
// the start of the clock interval (a multiple of the granularity) that
// contains the end instants of the samples summed into it.
//
// HistoryTier: one resolution. Buckets are oldest first, in arrival order;
// only the newest bucket is ever merged into, so a sample that arrives out
// of order opens a new bucket at the end instead of reaching back.
//
// Plain values with no internal synchronisation: one owner mutates a tier at
// a time; copies may go to other threads.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

#include "netcore/export.h"
#include "netcore/history/rate_aggregate.h"
#include "netcore/history/rate_sample.h"

namespace bcn {

struct NETCORE_EXPORT HistoryBucket {
  double start = 0;    // seconds since 2001-01-01 UTC
  double seconds = 0;  // summed duration of the samples in it
  std::uint64_t bytesIn = 0;
  std::uint64_t bytesOut = 0;
  double minIn = 0;
  double maxIn = 0;
  double minOut = 0;
  double maxOut = 0;

  // A bucket holding just `sample`: its min and max rates are the sample's.
  static HistoryBucket ofSample(double start, const RateSample& sample);

  // Sums the sample in and widens the min/max rates by its rates.
  void add(const RateSample& sample);

  // This bucket as an interval for RateAggregate::combine.
  RateAggregate summary() const {
    return {seconds, bytesIn, bytesOut, minIn, maxIn, minOut, maxOut};
  }

  auto operator<=>(const HistoryBucket&) const = default;
};

struct NETCORE_EXPORT HistoryTier {
  double granularity = 0;  // seconds per bucket; 0 = one bucket per sample
  double retention = 0;    // seconds a bucket is kept after its interval ends
  // A deque so that pruning drops a prefix without moving what stays.
  std::deque<HistoryBucket> buckets;

  // Files `sample` by its end instant: into the newest bucket when that
  // covers the same interval, else into a new bucket appended at the end.
  // Does not check the duration (RateHistory::add does).
  void add(const RateSample& sample);

  // Where `bucket`'s interval ends: start + granularity (start in the raw tier).
  double endOf(const HistoryBucket& bucket) const { return bucket.start + granularity; }

  // Drops the leading buckets whose interval ended at or before
  // `now - retention`, stopping at the first one that ends later.
  void prune(double now);

  bool operator==(const HistoryTier&) const = default;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::HistoryBucket> {
  std::size_t operator()(const bcn::HistoryBucket& b) const noexcept;
};

template <>
struct NETCORE_EXPORT std::hash<bcn::HistoryTier> {
  std::size_t operator()(const bcn::HistoryTier& t) const noexcept;
};
