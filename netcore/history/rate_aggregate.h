// RateAggregate: a summary of many measured intervals (history buckets):
// total time and bytes, and the lowest and highest per-interval rates, so a
// client can show average, minimum and maximum over a recent period.
//
// Plain value; safe to copy between threads. The default value is the
// identity of combine(): +infinity minimums (not 0, not the largest finite
// double) and 0 maximums. Byte sums wrap past 2^64 - 1.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>

#include "netcore/export.h"

namespace bcn {

// The min/max rule shared by aggregates and history buckets: a strictly
// lower minimum and an equal-or-higher maximum replace the old value. A NaN
// candidate fails both comparisons and so never replaces anything.
inline void foldRateRange(double& min, double& max, double candidateMin, double candidateMax) {
  if (candidateMin < min) min = candidateMin;
  if (max <= candidateMax) max = candidateMax;
}

struct NETCORE_EXPORT RateAggregate {
  double seconds = 0;  // total measured time; gaps between samples are not counted
  std::uint64_t bytesIn = 0;
  std::uint64_t bytesOut = 0;
  double minIn = std::numeric_limits<double>::infinity();
  double maxIn = 0;
  double minOut = std::numeric_limits<double>::infinity();
  double maxOut = 0;

  bool isEmpty() const { return seconds == 0; }

  // Time-weighted: total bytes over total measured seconds, not the mean of
  // the interval rates; 0 for an empty aggregate.
  double averageIn() const { return seconds == 0 ? 0 : static_cast<double>(bytesIn) / seconds; }
  double averageOut() const { return seconds == 0 ? 0 : static_cast<double>(bytesOut) / seconds; }

  // Adds one summarised interval (its seconds, byte totals and its own
  // min/max rates). Combining into the default value yields `interval`.
  void combine(const RateAggregate& interval) {
    seconds += interval.seconds;
    bytesIn += interval.bytesIn;
    bytesOut += interval.bytesOut;
    foldRateRange(minIn, maxIn, interval.minIn, interval.maxIn);
    foldRateRange(minOut, maxOut, interval.minOut, interval.maxOut);
  }

  auto operator<=>(const RateAggregate&) const = default;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::RateAggregate> {
  std::size_t operator()(const bcn::RateAggregate& a) const noexcept;
};
