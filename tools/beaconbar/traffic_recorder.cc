#include "tools/beaconbar/traffic_recorder.h"

#include <algorithm>
#include <unordered_set>

namespace bcn::cli {

TrafficRecorder::TrafficRecorder(HistoryMap histories, const RateHistory::Retention& retention, double maxGap, Date now)
    : histories_(std::move(histories)), retention_(retention), maxGap_(maxGap) {
  for (auto& [name, history] : histories_) history.apply(retention_);
  prune(now);
}

void TrafficRecorder::record(const std::vector<InterfaceSnapshot>& snapshots, Date now) {
  present_.clear();
  latest_.clear();
  std::unordered_set<std::string> names;
  for (const InterfaceSnapshot& snapshot : snapshots) {
    present_.push_back(snapshot.name);
    names.insert(snapshot.name);
    auto sample = tracker_.update(snapshot.name, snapshot.counters, now, maxGap_);
    if (!sample) continue;
    auto [entry, created] = histories_.try_emplace(snapshot.name, retention_);
    entry->second.add(*sample);
    latest_[snapshot.name] = *sample;
  }
  tracker_.retain(names);
}

std::vector<WatchRow> TrafficRecorder::rows(const std::vector<std::string>& names, Date now) const {
  const std::vector<std::string>& wanted = names.empty() ? present_ : names;
  std::vector<WatchRow> rows;
  for (const std::string& name : wanted) {
    WatchRow row;
    row.name = name;
    row.present = std::find(present_.begin(), present_.end(), name) != present_.end();
    if (auto sample = latest_.find(name); sample != latest_.end()) row.current = sample->second;
    if (auto history = histories_.find(name); history != histories_.end()) {
      row.lastMinute = history->second.aggregate(60, now);
      row.lastHour = history->second.aggregate(3600, now);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void TrafficRecorder::prune(Date now) {
  for (auto& [name, history] : histories_) history.prune(now);
}

}  // namespace bcn::cli
