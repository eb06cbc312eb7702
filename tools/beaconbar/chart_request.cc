#include "tools/beaconbar/chart_request.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

#ifndef BCN_CHART_PROGRAM
#error "BCN_CHART_PROGRAM must name the installed beaconbar-chart"
#endif

namespace bcn::cli {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::optional<int> parseSide(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) return std::nullopt;
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string sideRange() { return std::to_string(kMinChartSide) + " to " + std::to_string(kMaxChartSide); }

}  // namespace

std::expected<ChartRequest, std::string> makeChartRequest(const std::string& output, const std::string& period,
                                                          const std::string& size,
                                                          const std::optional<std::string>& historyFile,
                                                          const std::vector<std::string>& names) {
  ChartRequest request;
  const std::string lowered = lower(output);
  if (lowered.ends_with(".png") && lowered.size() > 4) {
    request.format = ChartFormat::kPng;
  } else if (lowered.ends_with(".svg") && lowered.size() > 4) {
    request.format = ChartFormat::kSvg;
  } else {
    return std::unexpected("the chart file must end in .png or .svg, got '" + output + "'");
  }
  request.output = output;

  if (period != "hour" && period != "day" && period != "month") {
    return std::unexpected("--period takes hour, day or month, got '" + period + "'");
  }
  request.period = period;

  if (!size.empty()) {
    const auto x = size.find_first_of("xX");
    const auto width = x == std::string::npos ? std::nullopt : parseSide(std::string_view(size).substr(0, x));
    const auto height = x == std::string::npos ? std::nullopt : parseSide(std::string_view(size).substr(x + 1));
    if (!width || !height) return std::unexpected("--size takes WIDTHxHEIGHT in pixels, e.g. 800x500, got '" + size + "'");
    if (*width < kMinChartSide || *width > kMaxChartSide || *height < kMinChartSide || *height > kMaxChartSide) {
      return std::unexpected("--size " + size + " is out of range: each side from " + sideRange() + " pixels");
    }
    request.width = *width;
    request.height = *height;
  }
  for (const std::string& name : names) {
    if (name.empty()) return std::unexpected("an interface name cannot be empty");
  }
  request.historyFile = historyFile;
  request.names = names;
  return request;
}

std::vector<std::string> chartProgramArguments(const ChartRequest& request) {
  std::vector<std::string> arguments{"--period", request.period,
                                     "--size", std::to_string(request.width) + "x" + std::to_string(request.height)};
  if (request.historyFile) {
    arguments.push_back("--history-file");
    arguments.push_back(*request.historyFile);
  }
  // The output and the names after "--", so a name cannot pass for an option.
  arguments.push_back("--");
  arguments.push_back(request.output);
  arguments.insert(arguments.end(), request.names.begin(), request.names.end());
  return arguments;
}

std::expected<ChartRequest, std::string> parseChartProgramArguments(const std::vector<std::string>& arguments) {
  std::string period = "day";
  std::string size;
  std::optional<std::string> historyFile;
  std::size_t i = 0;
  for (; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (option != "--period" && option != "--size" && option != "--history-file") {
      return std::unexpected("unknown argument '" + option + "'");
    }
    if (i + 1 == arguments.size()) return std::unexpected(option + " needs a value");
    const std::string& value = arguments[++i];
    if (option == "--period") period = value;
    if (option == "--size") size = value;
    if (option == "--history-file") historyFile = value;
  }
  if (i >= arguments.size()) return std::unexpected("no chart file named (expected: [options] -- FILE.png|FILE.svg [NAME...])");
  const std::string& output = arguments[i];
  const std::vector<std::string> names(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
  return makeChartRequest(output, period, size, historyFile, names);
}

std::string chartProgramPath(const char* fromEnvironment) {
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
  return BCN_CHART_PROGRAM;
}

}  // namespace bcn::cli
