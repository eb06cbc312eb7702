#include "tray-app/interface_rows.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <unordered_set>

#include "netcore/sysconfig/pin_matcher.h"
#include "tools/beaconbar/interface_text.h"
#include "tools/beaconbar/units.h"

namespace bcn::tray {
namespace {

std::string formatBits(double bitsPerSecond) {
  static constexpr std::array<const char*, 5> kUnits = {"bit/s", "kbit/s", "Mbit/s", "Gbit/s", "Tbit/s"};
  double value = bitsPerSecond;
  std::size_t unit = 0;
  // Three significant digits would round 999.5 up to "1e+03": the next
  // prefix takes it.
  while (unit + 1 < kUnits.size() && value >= 999.5) {
    value /= 1000;
    ++unit;
  }
  char buffer[32];
  if (unit == 0) {
    std::snprintf(buffer, sizeof buffer, "%.0f %s", value, kUnits[unit]);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.3g %s", value, kUnits[unit]);
  }
  return buffer;
}

InterfaceRow rowOf(const InterfaceSnapshot& snapshot, bool pinned, const std::map<std::string, RateSample>& rates) {
  InterfaceRow row;
  row.name = snapshot.name;
  row.pinned = pinned;
  row.state = std::string(cli::linkState(snapshot));
  if (!snapshot.ipv4.empty()) row.addresses.push_back(cli::shortAddress(snapshot.ipv4.front()));
  if (!snapshot.ipv6.empty()) row.addresses.push_back(cli::shortAddress(snapshot.ipv6.front(), snapshot));
  if (auto rate = rates.find(snapshot.name); rate != rates.end()) row.rate = rate->second;
  return row;
}

}  // namespace

std::string formatRate(double bytesPerSecond, RateUnit unit) {
  if (!std::isfinite(bytesPerSecond) || bytesPerSecond < 0) return "-";
  return unit == RateUnit::bytes ? cli::formatRate(bytesPerSecond) : formatBits(bytesPerSecond * 8);
}

std::string InterfaceRow::label(RateUnit unit) const {
  std::string text = name + "  " + state;
  for (const std::string& address : addresses) text += "  " + address;
  if (rate) text += "  ↓ " + formatRate(rate->rateIn(), unit) + "  ↑ " + formatRate(rate->rateOut(), unit);
  return text;
}

std::vector<InterfaceRow> interfaceRows(const std::vector<LiveInterface>& live,
                                        const std::vector<InterfaceFingerprint>& pins,
                                        const std::map<std::string, RateSample>& rates) {
  std::vector<InterfaceFingerprint> fingerprints;
  fingerprints.reserve(live.size());
  for (const LiveInterface& interface : live) fingerprints.push_back(interface.fingerprint);
  const auto resolved = PinMatcher::resolve(pins, fingerprints);

  std::vector<InterfaceRow> rows;
  std::unordered_set<std::size_t> shown;
  for (std::size_t pin = 0; pin < pins.size(); ++pin) {
    std::optional<std::size_t> match;
    if (resolved[pin]) {
      for (std::size_t i = 0; i < live.size() && !match; ++i) {
        if (!shown.contains(i) && fingerprints[i] == *resolved[pin]) match = i;
      }
    }
    if (match) {
      shown.insert(*match);
      rows.push_back(rowOf(live[*match].snapshot, true, rates));
    } else {
      InterfaceRow gone;
      gone.name = pins[pin].name;
      gone.pinned = true;
      gone.present = false;
      gone.state = "not present";
      rows.push_back(std::move(gone));
    }
  }
  for (std::size_t i = 0; i < live.size(); ++i) {
    if (shown.contains(i) || live[i].snapshot.isLoopback()) continue;
    rows.push_back(rowOf(live[i].snapshot, false, rates));
  }
  return rows;
}

const InterfaceRow* iconRow(const std::vector<InterfaceRow>& rows, const std::optional<std::string>& primaryIPv4) {
  for (const InterfaceRow& row : rows) {
    if (row.pinned && row.present) return &row;
  }
  if (!primaryIPv4) return nullptr;
  for (const InterfaceRow& row : rows) {
    if (row.present && row.name == *primaryIPv4) return &row;
  }
  return nullptr;
}

}  // namespace bcn::tray
