// The summary `beaconbar history` prints from the stored traffic history:
// per interface the traffic of the last hour, day and 30 days, and the
// newest raw samples. Pure functions over the decoded file; thread-safe.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "netcore/history/history_store.h"
#include "netcore/history/rate_aggregate.h"
#include "netcore/history/rate_sample.h"
#include "platform/date.h"

namespace bcn::cli {

struct HistorySummary {
  std::string name;
  RateAggregate lastHour;
  RateAggregate lastDay;
  RateAggregate last30Days;
  std::vector<RateSample> recentSamples;  // oldest first
};

// One summary per history in `histories` (in key order), as seen at `now`,
// with at most `recentCount` samples each. The caller picks the keys.
std::vector<HistorySummary> summarizeHistory(const HistoryMap& histories, Date now, std::int64_t recentCount);

std::string formatHistory(const std::string& file, const std::vector<HistorySummary>& summaries);

// {"file", "interfaces": [{"name", "lastHour", "lastDay", "last30Days",
// "recentSamples": [{"end", "seconds", "bytesIn", "bytesOut", "rateIn",
// "rateOut"}]}]}
nlohmann::ordered_json historyJson(const std::string& file, const std::vector<HistorySummary>& summaries);

}  // namespace bcn::cli
