#include "netcore/history/history_tier.h"

#include <algorithm>
#include <cmath>

#include "netcore/history/hash_mix.h"

namespace bcn {

HistoryBucket HistoryBucket::ofSample(double start, const RateSample& sample) {
  const double rateIn = sample.rateIn();
  const double rateOut = sample.rateOut();
  return {start, sample.duration, sample.bytesIn, sample.bytesOut, rateIn, rateIn, rateOut, rateOut};
}

void HistoryBucket::add(const RateSample& sample) {
  seconds += sample.duration;
  bytesIn += sample.bytesIn;
  bytesOut += sample.bytesOut;
  const double rateIn = sample.rateIn();
  const double rateOut = sample.rateOut();
  foldRateRange(minIn, maxIn, rateIn, rateIn);
  foldRateRange(minOut, maxOut, rateOut, rateOut);
}

void HistoryTier::add(const RateSample& sample) {
  const double t = sample.end.secondsSince2001;
  double start = t;
  if (granularity != 0) {
    start = granularity * std::floor(t / granularity);
    // Exact comparison on purpose: the start is recomputed the same way
    // for every sample of an interval.
    if (!buckets.empty() && buckets.back().start == start) {
      buckets.back().add(sample);
      return;
    }
  }
  buckets.push_back(HistoryBucket::ofSample(start, sample));
}

void HistoryTier::prune(double now) {
  const double cutoff = now - retention;
  const auto firstKept = std::find_if(buckets.begin(), buckets.end(),
                                      [&](const HistoryBucket& b) { return !(endOf(b) <= cutoff); });
  buckets.erase(buckets.begin(), firstKept);
}

}  // namespace bcn

using bcn::history_internal::hashMix;

std::size_t std::hash<bcn::HistoryBucket>::operator()(const bcn::HistoryBucket& b) const noexcept {
  std::size_t h = std::hash<double>{}(b.start);
  return hashMix(h, std::hash<bcn::RateAggregate>{}(b.summary()));
}

std::size_t std::hash<bcn::HistoryTier>::operator()(const bcn::HistoryTier& t) const noexcept {
  std::size_t h = hashMix(std::hash<double>{}(t.granularity), std::hash<double>{}(t.retention));
  for (const auto& bucket : t.buckets) h = hashMix(h, std::hash<bcn::HistoryBucket>{}(bucket));
  return hashMix(h, t.buckets.size());
}
