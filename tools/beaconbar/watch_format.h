// The rows of `beaconbar watch`: per interface the rate of the latest
// interval and the average, minimum and maximum over the last minute and
// hour from its history. Text rows have fixed column widths so a redrawn
// screen does not jitter. Pure functions; thread-safe.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "netcore/history/rate_aggregate.h"
#include "netcore/history/rate_sample.h"
#include "platform/date.h"

namespace bcn::cli {

struct WatchRow {
  std::string name;
  bool present = true;                // false once the interface has gone
  std::optional<RateSample> current;  // absent on the first reading and after a refused interval
  RateAggregate lastMinute;
  RateAggregate lastHour;
};

// Wide enough for every name in `rows` and for the header.
std::size_t watchNameWidth(const std::vector<WatchRow>& rows);

// "INTERFACE  IN  OUT  1M IN avg/min/max ..." for `nameWidth`.
std::string formatWatchHeader(std::size_t nameWidth);
// One row without a newline; rates in the compact form (bytes per second).
std::string formatWatchRow(const WatchRow& row, std::size_t nameWidth);

// {"time": ISO, "interfaces": [{"name", "present", "rate", "lastMinute",
// "lastHour"}]}: one object per reading, written one per line.
nlohmann::ordered_json watchTickJson(Date now, const std::vector<WatchRow>& rows);

}  // namespace bcn::cli
