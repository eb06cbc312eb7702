// CounterDeltaTracker: turns successive counter readings of an interface
// into traffic samples. It remembers, per key, the last reading and when it
// was taken; each new reading yields the sample for the interval since, or
// nothing when there is no earlier reading, the interval is not positive or
// longer than `maxGap`, or a byte counter went backwards (re-created
// interface, reset or wrapped counter: a new baseline, never modular
// arithmetic). Every reading becomes the new baseline, refused or not.
//
// A plain value without synchronisation: one owner mutates it.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "netcore/export.h"
#include "netcore/history/rate_sample.h"
#include "netcore/interfaces/interface_snapshot.h"
#include "platform/date.h"

namespace bcn {

class NETCORE_EXPORT CounterDeltaTracker {
 public:
  CounterDeltaTracker() = default;

  // The sample for the interval since this key's previous reading, if any.
  // Only bytesIn and bytesOut take part. A NaN maxGap refuses every
  // interval.
  std::optional<RateSample> update(const std::string& key, const InterfaceCounters& counters, Date at,
                                   double maxGap);

  // Forgets every key not in `keys`.
  void retain(const std::unordered_set<std::string>& keys);

 private:
  struct Reading {
    Date time;
    InterfaceCounters counters;
  };
  std::unordered_map<std::string, Reading> last_;
};

}  // namespace bcn
