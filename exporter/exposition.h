// The Prometheus text exposition format, version 0.0.4: metric families
// with their HELP and TYPE lines, written from plain values.
//
// Whatever the bytes in a family, the output stays a valid exposition:
// label values and help texts are escaped as the format requires (backslash,
// double quote in label values, newline), bytes that are not UTF-8 become
// U+FFFD, and metric or label names outside the allowed alphabet have the
// offending characters replaced by '_'. Names are ours, values are the
// machine's (an interface name or a program's display name may hold any
// byte), so only values are expected to need it.
//
// Pure functions over values; thread-safe.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bcn::metrics {

enum class MetricType { counter, gauge };

struct Label {
  std::string name;
  std::string value;
};

struct Sample {
  std::vector<Label> labels;
  double value = 0;
};

struct MetricFamily {
  std::string name;
  std::string help;
  MetricType type = MetricType::gauge;
  std::vector<Sample> samples;
};

// `text` with each ill-formed UTF-8 sequence (overlong forms, surrogates
// and code points above U+10FFFF included) replaced by one U+FFFD per
// maximal subpart, as Unicode recommends.
std::string validUtf8(std::string_view text);

// A label value as it goes between the double quotes: valid UTF-8, with
// backslash, double quote and newline written as \\, \" and \n.
std::string escapeLabelValue(std::string_view value);

// A help text: valid UTF-8, with backslash and newline escaped.
std::string escapeHelp(std::string_view help);

// A metric name ([a-zA-Z_:][a-zA-Z0-9_:]*) or, with `colonAllowed` false, a
// label name ([a-zA-Z_][a-zA-Z0-9_]*): other characters become '_', and an
// empty name or one starting with a digit gains a leading '_'.
std::string sanitizeName(std::string_view name, bool colonAllowed);

// The value as the format writes floats: "NaN", "+Inf", "-Inf", integers
// without a fraction, everything else in the shortest form that reads back
// exactly.
std::string formatValue(double value);

// Every family in order: "# HELP", "# TYPE", then one line per sample.
// A family without samples keeps its HELP and TYPE lines.
std::string writeExposition(std::span<const MetricFamily> families);

// The Content-Type this output is served with.
inline constexpr std::string_view kContentType = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace bcn::metrics
