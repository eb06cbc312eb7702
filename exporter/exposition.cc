#include "exporter/exposition.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace bcn::metrics {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 when
// its first byte does not start one.
std::size_t sequenceLength(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;   // no overlong forms
    if (b0 == 0xED) high = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;   // no overlong forms
    if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

std::string escape(std::string_view text, bool quote) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = sequenceLength(text);
    if (length == 0) {
      out += kReplacement;
      text.remove_prefix(1);
      continue;
    }
    if (length == 1) {
      const char c = text[0];
      if (c == '\\') {
        out += "\\\\";
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '"' && quote) {
        out += "\\\"";
      } else {
        out += c;
      }
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace

std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = sequenceLength(text);
    if (length == 0) {
      out += kReplacement;
      text.remove_prefix(1);
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

std::string escapeLabelValue(std::string_view value) { return escape(value, true); }

std::string escapeHelp(std::string_view help) { return escape(help, false); }

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
