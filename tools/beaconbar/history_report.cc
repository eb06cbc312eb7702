#include "tools/beaconbar/history_report.h"

#include <cstdio>

#include "tools/beaconbar/interface_json.h"
#include "tools/beaconbar/text_table.h"
#include "tools/beaconbar/units.h"

namespace bcn::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr double kHour = 3600;
constexpr double kDay = 24 * kHour;

void addPeriodRow(TextTable& table, const std::string& label, const RateAggregate& a) {
  if (a.isEmpty()) {
    table.addRow({label, "no traffic recorded"});
    return;
  }
  table.addRow({label, "in " + formatBytes(static_cast<double>(a.bytesIn)), "avg " + formatRate(a.averageIn()),
                "max " + formatRate(a.maxIn), "out " + formatBytes(static_cast<double>(a.bytesOut)),
                "avg " + formatRate(a.averageOut()), "max " + formatRate(a.maxOut)});
}

std::string duration(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f s", seconds);
  return buffer;
}

}  // namespace

std::vector<HistorySummary> summarizeHistory(const HistoryMap& histories, Date now, std::int64_t recentCount) {
  std::vector<HistorySummary> summaries;
  for (const auto& [name, history] : histories) {
    summaries.push_back({name, history.aggregate(kHour, now), history.aggregate(kDay, now),
                         history.aggregate(30 * kDay, now), history.recentSamples(recentCount)});
  }
  return summaries;
}

std::string formatHistory(const std::string& file, const std::vector<HistorySummary>& summaries) {
  std::string out = "Traffic history in " + file + "\n";
  for (const HistorySummary& s : summaries) {
    out += "\n" + s.name + "\n";
    TextTable periods("  ");
    addPeriodRow(periods, "last hour", s.lastHour);
    addPeriodRow(periods, "last day", s.lastDay);
    addPeriodRow(periods, "last 30 days", s.last30Days);
    out += periods.render();
    if (s.recentSamples.empty()) continue;
    out += "  recent samples\n";
    TextTable samples("    ");
    for (const RateSample& sample : s.recentSamples) {
      samples.addRow({formatTimestamp(sample.end), duration(sample.duration), "in " + formatRate(sample.rateIn()),
                      "out " + formatRate(sample.rateOut())});
    }
    out += samples.render();
  }
  return out;
}

Json historyJson(const std::string& file, const std::vector<HistorySummary>& summaries) {
  Json interfaces = Json::array();
  for (const HistorySummary& s : summaries) {
    Json samples = Json::array();
    for (const RateSample& sample : s.recentSamples) {
      samples.push_back({{"end", formatIsoTimestamp(sample.end)},
                         {"seconds", jsonNumber(sample.duration)},
                         {"bytesIn", sample.bytesIn},
                         {"bytesOut", sample.bytesOut},
                         {"rateIn", jsonNumber(sample.rateIn())},
                         {"rateOut", jsonNumber(sample.rateOut())}});
    }
    interfaces.push_back({{"name", s.name},
                          {"lastHour", aggregateJson(s.lastHour)},
                          {"lastDay", aggregateJson(s.lastDay)},
                          {"last30Days", aggregateJson(s.last30Days)},
                          {"recentSamples", std::move(samples)}});
  }
  return {{"file", file}, {"interfaces", std::move(interfaces)}};
}

}  // namespace bcn::cli
