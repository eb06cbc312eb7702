#include "exporter/exposition.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <span>

#include "platform/utf8.h"

namespace bcn::metrics {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// How many bytes at the start of `text` form one character (0 when they
// do not), and how many to replace with one U+FFFD when they do not.
std::size_t sequenceLength(std::string_view text, std::size_t& consumed) {
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return utf8::sequenceAt(bytes, 0, consumed);
}

enum class Escapes { none, help, labelValue };

// `text` with each byte sequence that is not UTF-8 replaced by U+FFFD, and
// the characters `escapes` names written as the exposition format asks.
std::string rewritten(std::string_view text, Escapes escapes) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    std::size_t consumed = 1;
    const std::size_t length = sequenceLength(text, consumed);
    if (length == 0) {
      out += kReplacement;
      text.remove_prefix(consumed);
      continue;
    }
    const char c = text[0];
    if (length == 1 && escapes != Escapes::none && c == '\\') {
      out += "\\\\";
    } else if (length == 1 && escapes != Escapes::none && c == '\n') {
      out += "\\n";
    } else if (length == 1 && escapes == Escapes::labelValue && c == '"') {
      out += "\\\"";
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace

std::string validUtf8(std::string_view text) { return rewritten(text, Escapes::none); }

std::string escapeLabelValue(std::string_view value) { return rewritten(value, Escapes::labelValue); }

std::string escapeHelp(std::string_view help) { return rewritten(help, Escapes::help); }

std::string sanitizeName(std::string_view name, bool colonAllowed) {
  std::string out;
  out.reserve(name.size() + 1);
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) out += '_';
  for (const char c : name) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                         (c == ':' && colonAllowed);
    out += allowed ? c : '_';
  }
  return out;
}

std::string formatValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  // Counters are whole numbers; below 2^63 they print exactly, digit for digit.
  if (value == std::trunc(value) && std::fabs(value) < 9.2e18) {
    return std::to_string(static_cast<std::int64_t>(value));
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string writeExposition(std::span<const MetricFamily> families) {
  std::string out;
  for (const MetricFamily& family : families) {
    const std::string name = sanitizeName(family.name, true);
    out += "# HELP " + name + ' ' + escapeHelp(family.help) + '\n';
    out += "# TYPE " + name + (family.type == MetricType::counter ? " counter\n" : " gauge\n");
    for (const Sample& sample : family.samples) {
      out += name;
      if (!sample.labels.empty()) {
        out += '{';
        bool first = true;
        for (const Label& label : sample.labels) {
          if (!first) out += ',';
          first = false;
          out += sanitizeName(label.name, false) + "=\"" + escapeLabelValue(label.value) + '"';
        }
        out += '}';
      }
      out += ' ' + formatValue(sample.value) + '\n';
    }
  }
  return out;
}

}  // namespace bcn::metrics
