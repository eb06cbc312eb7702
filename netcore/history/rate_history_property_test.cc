// Random sample streams against a brute-force model: the test keeps every
// sample it added and decides, sample by sample, which tier still holds it
// and which tier should serve it for a given window. Durations and ends are
// multiples of 1/4 s, so every sum is exact and results compare with ==.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "netcore/history/rate_history.h"
#include "netcore/history/testing/non_finite.h"

namespace bcn {
namespace {

using testing::kInf;
constexpr double kGranularity[3] = {0, 60, 3600};

struct Logged {
  RateSample sample;
  std::size_t prunesBefore;  // prunes that happened before it was added
};

struct Model {
  double retention[3];
  std::vector<Logged> log;
  std::vector<double> pruneTimes;

  // Start of the tier-k interval the sample was filed under.
  static double startIn(int k, const RateSample& s) {
    const double t = s.end.secondsSince2001;
    return k == 0 ? t : kGranularity[k] * std::floor(t / kGranularity[k]);
  }

  // Prune times only grow, so the last prune after the sample decides.
  bool kept(int k, const Logged& l) const {
    if (l.prunesBefore == pruneTimes.size()) return true;
    return startIn(k, l.sample) + kGranularity[k] > pruneTimes.back() - retention[k];
  }

  // Which samples the window (now - period, ...] is served from: for each
  // logged sample, the tier that counts it, or -1.
  std::vector<int> servedBy(double period, double now) const {
    const double cutoff = now - period;
    std::vector<int> tierOf(log.size(), -1);
    double covered = kInf;
    for (int k = 0; k < 3; ++k) {
      double first = kInf;
      for (const auto& l : log) {
        if (kept(k, l)) first = std::min(first, startIn(k, l.sample));
      }
      if (first == kInf) continue;  // tier holds nothing
      double boundary = cutoff;
      if (k < 2) {
        const double g2 = kGranularity[k + 1];
        if (g2 <= first - cutoff) {
          // The next tier's edge at or after this tier's oldest data, but
          // never past what finer tiers serve.
          double edge = g2 * std::ceil(first / g2);
          if (edge > covered) edge = g2 * std::floor(covered / g2);
          boundary = std::max(cutoff, edge);
        }
      }
      for (std::size_t i = 0; i < log.size(); ++i) {
        if (!kept(k, log[i])) continue;
        const double s = startIn(k, log[i].sample);
        const double e = s + kGranularity[k];
        const bool inTier = k == 0 ? (s < covered && s >= boundary && s > cutoff)
                                   : (e <= covered && s >= boundary);
        if (!inTier) continue;
        // Tiers serve disjoint stretches: nothing may be claimed twice.
        EXPECT_EQ(tierOf[i], -1) << "sample " << i << " served by tiers " << tierOf[i] << " and " << k;
        tierOf[i] = k;
      }
      if (boundary <= cutoff) break;
      covered = boundary;
    }
    return tierOf;
  }
};

RateAggregate sumServed(const Model& model, const std::vector<int>& tierOf) {
  RateAggregate a;
  for (std::size_t i = 0; i < tierOf.size(); ++i) {
    if (tierOf[i] < 0) continue;
    const RateSample& s = model.log[i].sample;
    a.combine({s.duration, s.bytesIn, s.bytesOut, s.rateIn(), s.rateIn(), s.rateOut(), s.rateOut()});
  }
  return a;
}

double quarters(std::mt19937_64& rng, double lo, double hi) {
  return std::uniform_int_distribution<std::int64_t>(std::llround(lo * 4), std::llround(hi * 4))(rng) / 4.0;
}

void checkWindows(const RateHistory& history, const Model& model, double clock, bool saneRetention,
                  std::mt19937_64& rng) {
  for (int q = 0; q < 40; ++q) {
    const double now = clock + quarters(rng, 0, 300);
    double period;
    switch (q % 6) {
      case 0: period = quarters(rng, 0, 700); break;
      case 1: period = quarters(rng, 0, 4 * 3600); break;
      case 2: period = quarters(rng, 0, 4 * 86400); break;
      case 3: period = 60.0 * std::uniform_int_distribution<int>(0, 3000)(rng); break;
      case 4: period = 3600.0 * std::uniform_int_distribution<int>(0, 80)(rng); break;
      default: period = q == 5 ? kInf : -quarters(rng, 0, 100); break;
    }
    // Every fourth window starts exactly one next-tier interval (give or
    // take a quarter second) before a tier's oldest data, where the
    // handover rule switches on.
    if (q % 4 == 3) {
      const int k = std::uniform_int_distribution<int>(0, 1)(rng);
      if (!history.tiers[k].buckets.empty()) {
        const double first = history.tiers[k].buckets.front().start;
        period = now - (first - kGranularity[k + 1]) + 0.25 * std::uniform_int_distribution<int>(-1, 1)(rng);
      }
    }
    const std::vector<int> tierOf = model.servedBy(period, now);
    const RateAggregate expected = sumServed(model, tierOf);
    ASSERT_EQ(history.aggregate(period, Date{now}), expected) << "period " << period << " now " << now;

    // Nothing older than the window counts, and a coarse bucket that
    // straddles its start is left out.
    const double cutoff = now - period;
    for (std::size_t i = 0; i < tierOf.size(); ++i) {
      if (tierOf[i] < 0) continue;
      const double s = Model::startIn(tierOf[i], model.log[i].sample);
      ASSERT_TRUE(tierOf[i] == 0 ? s > cutoff : s >= cutoff) << "sample " << i;
    }
    // With retentions a realistic client picks, everything a tier still
    // holds that ends an hour or more inside the window is counted.
    if (!saneRetention) continue;
    for (std::size_t i = 0; i < tierOf.size(); ++i) {
      const auto& l = model.log[i];
      const bool heldSomewhere = model.kept(0, l) || model.kept(1, l) || model.kept(2, l);
      if (heldSomewhere && l.sample.end.secondsSince2001 >= cutoff + 3600) {
        ASSERT_GE(tierOf[i], 0) << "sample " << i << " ending " << l.sample.end.secondsSince2001
                                << " left out of window from " << cutoff;
      }
    }
  }
}

void runStream(std::uint64_t seed) {
  SCOPED_TRACE(::testing::Message() << "seed " << seed);
  std::mt19937_64 rng(seed);
  const bool sane = seed % 2 == 0;
  Model model;
  model.retention[0] = quarters(rng, 30, 900);
  if (sane) {
    model.retention[1] = model.retention[0] + quarters(rng, 3660, 6 * 3600);
    model.retention[2] = model.retention[1] + quarters(rng, 0, 3 * 86400);
  } else {
    model.retention[1] = quarters(rng, 0, 4 * 3600);
    model.retention[2] = quarters(rng, 0, 2 * 86400);
  }
  RateHistory history({model.retention[0], model.retention[1], model.retention[2]});

  // "clock" is the latest instant seen: samples and prunes never go back.
  double clock = quarters(rng, 0, 30 * 86400);
  std::uniform_int_distribution<int> pick(0, 99);
  for (int step = 0; step < 1500; ++step) {
    const int kind = pick(rng);
    if (kind < 4) {
      clock += quarters(rng, 0, 60);
      history.prune(Date{clock});
      model.pruneTimes.push_back(clock);
      continue;
    }
    double advance;
    if (kind < 30) advance = quarters(rng, 0, 1);                   // burst
    else if (kind < 90) advance = quarters(rng, 0.25, 120);         // steady
    else if (kind < 97) advance = quarters(rng, 120, 3 * 3600);     // gap
    else advance = 60 * std::ceil((clock + 0.25) / 60) - clock;     // onto a minute edge
    clock += advance;
    RateSample s{Date{clock}, quarters(rng, 0.25, 180),
                 pick(rng) < 10 ? 0u : std::uniform_int_distribution<std::uint64_t>(0, 1 << 24)(rng),
                 std::uniform_int_distribution<std::uint64_t>(0, 1 << 20)(rng)};
    if (kind == 99) s.duration = pick(rng) < 50 ? 0.0 : -quarters(rng, 0.25, 10);  // ignored
    history.add(s);
    if (s.duration > 0) model.log.push_back({s, model.pruneTimes.size()});
    if (step % 500 == 499) checkWindows(history, model, clock, sane, rng);
  }

  // The raw tier holds exactly the samples the model says it keeps.
  std::vector<RateSample> keptRaw;
  for (const auto& l : model.log) {
    if (model.kept(0, l)) keptRaw.push_back(l.sample);
  }
  EXPECT_EQ(history.recentSamples(static_cast<std::int64_t>(model.log.size())), keptRaw);
  // The coarse tiers hold one bucket per interval, summing the kept samples.
  for (int k = 1; k < 3; ++k) {
    std::vector<RateHistory::Bucket> expected;
    for (const auto& l : model.log) {
      if (!model.kept(k, l)) continue;
      const RateSample& s = l.sample;
      const double start = Model::startIn(k, s);
      if (expected.empty() || expected.back().start != start) {
        expected.push_back({start, 0, 0, 0, kInf, 0, kInf, 0});
      }
      auto& b = expected.back();
      b.seconds += s.duration;
      b.bytesIn += s.bytesIn;
      b.bytesOut += s.bytesOut;
      b.minIn = std::min(b.minIn, s.rateIn());
      b.maxIn = std::max(b.maxIn, s.rateIn());
      b.minOut = std::min(b.minOut, s.rateOut());
      b.maxOut = std::max(b.maxOut, s.rateOut());
    }
    EXPECT_EQ(std::vector(history.tiers[k].buckets.begin(), history.tiers[k].buckets.end()), expected)
        << "tier " << k;
  }
  checkWindows(history, model, clock, sane, rng);
}

TEST(RateHistoryPropertyTest, AggregateMatchesBruteForceOverRandomStreams) {
  for (std::uint64_t seed = 1; seed <= 120; ++seed) {
    runStream(seed);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace bcn
