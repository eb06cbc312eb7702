// TrafficRecorder: what `beaconbar watch` keeps between readings. Each
// reading's counters go through a CounterDeltaTracker (keyed by interface
// name) and the samples it yields into that interface's RateHistory. After
// every reading the tracker forgets the interfaces that are gone, so one
// that comes back starts from a fresh baseline; their histories stay.
//
// No I/O: the caller takes the readings, supplies the instants and saves
// histories() when it likes. A plain object with one owner.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "netcore/history/history_store.h"
#include "netcore/history/rate_history.h"
#include "netcore/interfaces/counter_delta_tracker.h"
#include "netcore/interfaces/interface_snapshot.h"
#include "platform/date.h"
#include "tools/beaconbar/watch_format.h"

namespace bcn::cli {

class TrafficRecorder {
 public:
  // `histories` as loaded from the file: each takes `retention` (a history
  // of another shape starts over) and is pruned at `now`. `maxGap` is the
  // longest interval between readings that still counts as traffic.
  TrafficRecorder(HistoryMap histories, const RateHistory::Retention& retention, double maxGap, Date now);

  // Feeds one reading taken at `now`.
  void record(const std::vector<InterfaceSnapshot>& snapshots, Date now);

  // Rows for `names` (every interface of the last reading when empty, in
  // reading order) as of `now`.
  std::vector<WatchRow> rows(const std::vector<std::string>& names, Date now) const;

  // Drops what has aged past each tier's retention.
  void prune(Date now);

  const HistoryMap& histories() const { return histories_; }

 private:
  HistoryMap histories_;
  RateHistory::Retention retention_;
  double maxGap_;
  CounterDeltaTracker tracker_;
  std::vector<std::string> present_;          // names in the last reading, in its order
  std::map<std::string, RateSample> latest_;  // the last reading's samples
};

}  // namespace bcn::cli
