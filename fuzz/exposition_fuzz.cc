// The exposition writer with hostile names and values. The input is split
// at 0x00 bytes into: metric name, help, then label name/value pairs; the
// last eight bytes (when there are at least eight) are the sample's value.
// Whatever the bytes, the output must be valid UTF-8 with exactly three
// lines (HELP, TYPE, sample), the sample line must hold exactly two
// unescaped double quotes per label, and escaping must round-trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exporter/exposition.h"

namespace {

// Undoes escapeLabelValue: \\, \" and \n back to their characters.
std::string unescape(std::string_view escaped) {
  std::string out;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\') {
      out += escaped[i];
      continue;
    }
    if (++i == escaped.size()) std::abort();  // a lone trailing backslash
    switch (escaped[i]) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'n': out += '\n'; break;
      default: std::abort();  // an escape the format does not know
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 16) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  double value = 0;
  if (input.size() >= sizeof value) {
    std::memcpy(&value, input.data() + input.size() - sizeof value, sizeof value);
    input.remove_suffix(sizeof value);
  }
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = input.find('\0', start);
    parts.emplace_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  bcn::metrics::MetricFamily family;
  family.name = parts[0];
  if (parts.size() > 1) family.help = parts[1];
  family.type = parts.size() % 2 ? bcn::metrics::MetricType::counter : bcn::metrics::MetricType::gauge;
  bcn::metrics::Sample sample;
  sample.value = value;
  for (std::size_t i = 2; i + 1 < parts.size(); i += 2) sample.labels.push_back({parts[i], parts[i + 1]});
  family.samples.push_back(sample);

  const std::string out = bcn::metrics::writeExposition(std::span(&family, 1));
  if (bcn::metrics::validUtf8(out) != out) std::abort();
  std::size_t lines = 0;
  for (const char c : out) lines += c == '\n';
  if (lines != 3 || out.back() != '\n') std::abort();

  // Each label value, unescaped, is the input made valid UTF-8.
  for (const bcn::metrics::Label& label : sample.labels) {
    const std::string escaped = bcn::metrics::escapeLabelValue(label.value);
    if (escaped.find('\n') != std::string::npos) std::abort();
    if (unescape(escaped) != bcn::metrics::validUtf8(label.value)) std::abort();
  }
  const std::string_view line = std::string_view(out).substr(out.find("\n", out.find("# TYPE")) + 1);
  std::size_t quotes = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\') {
      ++i;
    } else if (line[i] == '"') {
      ++quotes;
    }
  }
  if (quotes != 2 * sample.labels.size()) std::abort();
  const std::string tail = " " + bcn::metrics::formatValue(value) + "\n";
  if (!line.ends_with(tail)) std::abort();
  return 0;
}
