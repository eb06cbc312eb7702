#include "netcore/history/rate_history.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "netcore/history/hash_mix.h"

namespace bcn {

RateHistory::RateHistory(const Retention& retention)
    : tiers{Tier{0, retention.raw, {}},
            Tier{kMinuteGranularity, retention.minute, {}},
            Tier{kHourGranularity, retention.hour, {}}} {}

namespace {

bool isFiniteNonNegative(double value) { return std::isfinite(value) && value >= 0; }

// Whether a tier of granularity `g` could have made `bucket`: a finite
// start that, above the raw tier, is an interval edge computed the way
// HistoryTier::add computes it.
bool fitsGranularity(const HistoryBucket& bucket, double g) {
  if (!std::isfinite(bucket.start)) return false;
  return g == 0 || g * std::floor(bucket.start / g) == bucket.start;
}

}  // namespace

void RateHistory::apply(const Retention& retention) {
  if (tiers.size() != 3) {
    *this = RateHistory(retention);
    return;
  }
  // A stored shape is kept unless nothing could have made it: with a NaN,
  // infinite or negative granularity or retention, or a summing tier of
  // granularity 0, every sample would open a bucket that prune() never
  // drops (or that is kept as long as a coarse one).
  const RateHistory own(retention);
  std::array<bool, 3> rebuild{};
  for (std::size_t i = 0; i < 3; ++i) {
    const HistoryTier& tier = tiers[i];
    rebuild[i] = !isFiniteNonNegative(tier.granularity) || !isFiniteNonNegative(tier.retention) ||
                 (i > 0 && tier.granularity == 0);
  }
  // Queries hand over from finer to coarser tiers, so granularities must
  // increase. Which tier is out of place cannot be told, so when they do
  // not, every tier not already at this history's granularity takes it.
  const auto granularity = [&](std::size_t i) { return rebuild[i] ? own.tiers[i].granularity : tiers[i].granularity; };
  if (!(granularity(0) < granularity(1) && granularity(1) < granularity(2))) {
    for (std::size_t i = 0; i < 3; ++i) rebuild[i] = rebuild[i] || tiers[i].granularity != own.tiers[i].granularity;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    if (!rebuild[i]) continue;
    Tier& tier = tiers[i];
    tier.granularity = own.tiers[i].granularity;
    std::erase_if(tier.buckets, [&](const Bucket& b) { return !fitsGranularity(b, tier.granularity); });
  }
  tiers[0].retention = retention.raw;
  tiers[1].retention = retention.minute;
  tiers[2].retention = retention.hour;
}

void RateHistory::add(const RateSample& sample) {
  if (!(sample.duration > 0)) return;
  for (Tier& tier : tiers) tier.add(sample);
}

void RateHistory::prune(Date now) {
  for (Tier& tier : tiers) tier.prune(now.secondsSince2001);
}

std::vector<RateSample> RateHistory::recentSamples(std::int64_t count) const {
  if (count <= 0 || tiers.empty()) return {};
  const auto& buckets = tiers.front().buckets;
  const std::size_t n = std::min(static_cast<std::uint64_t>(count), std::uint64_t{buckets.size()});
  std::vector<RateSample> samples;
  samples.reserve(n);
  for (auto it = buckets.end() - static_cast<std::ptrdiff_t>(n); it != buckets.end(); ++it) {
    samples.push_back({Date{it->start}, it->seconds, it->bytesIn, it->bytesOut});
  }
  return samples;
}

namespace {

// The stretch-by-stretch walk behind aggregate() and forEachBucketIn():
// calls visit(bucket, tier) for every bucket the period takes.
template <class Visit>
void visitPeriod(const std::vector<HistoryTier>& tiers, double period, Date now, Visit&& visit) {
  const double cutoff = now.secondsSince2001 - period;
  // The older edge of what finer tiers have already contributed.
  double covered = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < tiers.size(); ++i) {
    const HistoryTier& tier = tiers[i];
    if (tier.buckets.empty()) continue;
    const double g = tier.granularity;

    // Where this tier hands over to the next: the first interval edge of the
    // next tier at or after this tier's oldest data, when that data starts
    // at least one next-tier interval after the cutoff. That edge can lie
    // beyond what the finer tiers already cover (a young history whose
    // oldest minute and newest raw sample share an hour); the next tier's
    // bucket there would count their stretch again, so the handover falls
    // back to the last edge inside the covered part.
    double boundary = cutoff;
    if (i + 1 < tiers.size()) {
      const double g2 = tiers[i + 1].granularity;
      const double first = tier.buckets.front().start;
      if (g2 <= first - cutoff) {
        double handover = g2 * std::ceil(first / g2);
        if (handover > covered) handover = g2 * std::floor(covered / g2);
        boundary = std::max(cutoff, handover);
      }
    }

    for (auto it = tier.buckets.rbegin(); it != tier.buckets.rend(); ++it) {
      const double s = it->start;
      const bool reachesIntoCovered = (g == 0) ? s >= covered : tier.endOf(*it) > covered;
      if (reachesIntoCovered) continue;
      if (s < boundary || (g == 0 && s <= cutoff)) break;
      visit(*it, tier);
    }

    if (boundary <= cutoff) return;
    covered = boundary;
  }
}

}  // namespace

RateAggregate RateHistory::aggregate(double period, Date now) const {
  RateAggregate result;
  visitPeriod(tiers, period, now, [&](const Bucket& bucket, const Tier&) { result.combine(bucket.summary()); });
  return result;
}

void RateHistory::forEachBucketIn(double period, Date now,
                                  const std::function<void(const Bucket&, const Tier&)>& visit) const {
  visitPeriod(tiers, period, now, visit);
}

bool RateHistory::isEmpty() const {
  return std::all_of(tiers.begin(), tiers.end(), [](const Tier& t) { return t.buckets.empty(); });
}

bool RateHistory::hasTraffic() const {
  return std::any_of(tiers.begin(), tiers.end(), [](const Tier& t) {
    return std::any_of(t.buckets.begin(), t.buckets.end(),
                       [](const Bucket& b) { return b.bytesIn != 0 || b.bytesOut != 0; });
  });
}

}  // namespace bcn

using bcn::history_internal::hashMix;

std::size_t std::hash<bcn::RateHistory::Retention>::operator()(
    const bcn::RateHistory::Retention& r) const noexcept {
  std::hash<double> real;
  return hashMix(hashMix(real(r.raw), real(r.minute)), real(r.hour));
}

std::size_t std::hash<bcn::RateHistory>::operator()(const bcn::RateHistory& h) const noexcept {
  std::size_t seed = h.tiers.size();
  for (const auto& tier : h.tiers) seed = hashMix(seed, std::hash<bcn::RateHistory::Tier>{}(tier));
  return seed;
}
