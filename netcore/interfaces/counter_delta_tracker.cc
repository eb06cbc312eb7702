#include "netcore/interfaces/counter_delta_tracker.h"

#include <unordered_map>

namespace bcn {

std::optional<RateSample> CounterDeltaTracker::update(const std::string& key, const InterfaceCounters& counters,
                                                      Date at, double maxGap) {
  std::optional<RateSample> sample;
  auto it = last_.find(key);
  if (it != last_.end()) {
    const Reading& previous = it->second;
    const double dt = at.secondsSince2001 - previous.time.secondsSince2001;
    // Written so that NaN in dt or maxGap fails the test.
    const bool usable = dt > 0 && dt <= maxGap && counters.bytesIn >= previous.counters.bytesIn &&
                        counters.bytesOut >= previous.counters.bytesOut;
    if (usable) {
      sample = RateSample{.end = at,
                          .duration = dt,
                          .bytesIn = counters.bytesIn - previous.counters.bytesIn,
                          .bytesOut = counters.bytesOut - previous.counters.bytesOut};
    }
  }
  last_.insert_or_assign(key, Reading{at, counters});
  return sample;
}

void CounterDeltaTracker::retain(const std::unordered_set<std::string>& keys) {
  std::erase_if(last_, [&](const auto& entry) { return !keys.contains(entry.first); });
}

}  // namespace bcn
