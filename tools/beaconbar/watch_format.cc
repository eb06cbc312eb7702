#include "tools/beaconbar/watch_format.h"

#include <algorithm>

#include "tools/beaconbar/interface_json.h"
#include "tools/beaconbar/text_table.h"
#include "tools/beaconbar/units.h"

namespace bcn::cli {
namespace {

constexpr std::size_t kRateWidth = 6;
constexpr std::size_t kRangeWidth = 19;
constexpr const char* kNameTitle = "INTERFACE";

std::string range(const RateAggregate& a, bool in) {
  if (a.isEmpty()) return "-";
  return in ? formatCompactRate(a.averageIn()) + "/" + formatCompactRate(a.minIn) + "/" + formatCompactRate(a.maxIn)
            : formatCompactRate(a.averageOut()) + "/" + formatCompactRate(a.minOut) + "/" + formatCompactRate(a.maxOut);
}

std::string joinColumns(const std::vector<std::string>& cells, std::size_t nameWidth) {
  std::string line = padRight(cells[0], nameWidth + 2);
  for (std::size_t i = 1; i < cells.size(); ++i) {
    const bool last = i + 1 == cells.size();
    line += last ? cells[i] : padRight(cells[i], (i <= 2 ? kRateWidth : kRangeWidth) + 1);
  }
  return line;
}

}  // namespace

std::size_t watchNameWidth(const std::vector<WatchRow>& rows) {
  std::size_t width = displayWidth(kNameTitle);
  for (const WatchRow& row : rows) width = std::max(width, displayWidth(row.name));
  return width;
}

std::string formatWatchHeader(std::size_t nameWidth) {
  return joinColumns(
      {kNameTitle, "IN", "OUT", "1M IN avg/min/max", "1M OUT avg/min/max", "1H IN avg/min/max", "1H OUT avg/min/max"},
      nameWidth);
}

std::string formatWatchRow(const WatchRow& row, std::size_t nameWidth) {
  if (!row.present) return padRight(row.name, nameWidth + 2) + "(not present)";
  const std::string in = row.current ? formatCompactRate(row.current->rateIn()) : "-";
  const std::string out = row.current ? formatCompactRate(row.current->rateOut()) : "-";
  return joinColumns({row.name, in, out, range(row.lastMinute, true), range(row.lastMinute, false),
                      range(row.lastHour, true), range(row.lastHour, false)},
                     nameWidth);
}

nlohmann::ordered_json watchTickJson(Date now, const std::vector<WatchRow>& rows) {
  nlohmann::ordered_json interfaces = nlohmann::ordered_json::array();
  for (const WatchRow& row : rows) {
    interfaces.push_back({{"name", row.name},
                          {"present", row.present},
                          {"rate", rateJson(row.current)},
                          {"lastMinute", aggregateJson(row.lastMinute)},
                          {"lastHour", aggregateJson(row.lastHour)}});
  }
  return {{"time", formatIsoTimestamp(now)}, {"interfaces", std::move(interfaces)}};
}

}  // namespace bcn::cli
