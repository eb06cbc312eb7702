#include "tools/beaconbar/units.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace bcn::cli {
namespace {

constexpr std::array<const char*, 6> kBinaryPrefixes = {"Ki", "Mi", "Gi", "Ti", "Pi", "Ei"};

// Three significant digits: 1.21, 12.1, 121.
std::string threeDigits(double value) {
  char buffer[32];
  const int decimals = value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

// Scales `value` by 1024 until it is below 1024; -1 when it needs no prefix.
int scaleBinary(double& value) {
  int prefix = -1;
  // Rounding may carry a value just under 1024 up to "1024", so the step
  // happens a little early.
  while (value >= 1023.5 && prefix + 1 < static_cast<int>(kBinaryPrefixes.size())) {
    value /= 1024;
    ++prefix;
  }
  return prefix;
}

}  // namespace

std::string formatBytes(double bytes) {
  if (!std::isfinite(bytes) || bytes < 0) return "-";
  double value = bytes;
  const int prefix = scaleBinary(value);
  if (prefix < 0) return std::to_string(static_cast<std::uint64_t>(std::llround(bytes))) + " B";
  return threeDigits(value) + " " + kBinaryPrefixes[prefix] + "B";
}

std::string formatRate(double bytesPerSecond) {
  const std::string bytes = formatBytes(bytesPerSecond);
  return bytes == "-" ? bytes : bytes + "/s";
}

std::string formatCompactRate(double bytesPerSecond) {
  if (!std::isfinite(bytesPerSecond) || bytesPerSecond < 0) return "-";
  double value = bytesPerSecond;
  const int prefix = scaleBinary(value);
  if (prefix < 0) return std::to_string(std::llround(bytesPerSecond));
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, value < 9.95 ? "%.1f%c" : "%.0f%c", value, kBinaryPrefixes[prefix][0]);
  return buffer;
}

std::string formatLineSpeed(std::uint64_t bitsPerSecond) {
  static constexpr std::array<const char*, 5> kUnits = {"bps", "Kbps", "Mbps", "Gbps", "Tbps"};
  double value = static_cast<double>(bitsPerSecond);
  std::size_t unit = 0;
  while (value >= 1000 && unit + 1 < kUnits.size()) {
    value /= 1000;
    ++unit;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3g %s", value, kUnits[unit]);
  return buffer;
}

namespace {

std::string formatUtc(Date date, const char* layout, bool milliseconds) {
  const double unix = date.unixSeconds();
  // Beyond a few thousand years the value is damage, not a date, and would
  // not fit time_t's conversion.
  if (!std::isfinite(unix) || std::fabs(unix) > 1e11) return "-";
  double whole = std::floor(unix);
  int millis = static_cast<int>(std::llround((unix - whole) * 1000));
  if (millis == 1000) {
    whole += 1;
    millis = 0;
  }
  const std::time_t seconds = static_cast<std::time_t>(whole);
  std::tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr) return "-";
  char buffer[64];
  const std::size_t length = std::strftime(buffer, sizeof buffer, layout, &parts);
  std::string text(buffer, length);
  if (milliseconds) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", millis);
    text += fraction;
  }
  return text + "Z";
}

}  // namespace

std::string formatTimestamp(Date date) { return formatUtc(date, "%Y-%m-%d %H:%M:%S", false); }

std::string formatIsoTimestamp(Date date) { return formatUtc(date, "%Y-%m-%dT%H:%M:%S", true); }

}  // namespace bcn::cli
