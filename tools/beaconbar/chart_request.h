// What `beaconbar history --chart` asks of beaconbar-chart, the offscreen
// renderer that ships with the tray (the command line itself links no Qt):
// the request checked on the command line's side, the renderer's argument
// list for it, and that list read back on the renderer's side, so the two
// programs cannot drift apart.
//
// Where the renderer is: $BEACONBAR_CHART_PROGRAM when set and non-empty
// (the tests point it into the build tree), else the installed path
// compiled in as BCN_CHART_PROGRAM.
//
// Pure functions; thread-safe.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <vector>

namespace bcn::cli {

enum class ChartFormat { kPng, kSvg };

struct ChartRequest {
  std::string output;                      // ends in .png or .svg
  ChartFormat format = ChartFormat::kPng;  // from the output's extension
  std::string period = "day";              // hour, day or month
  int width = 800;
  int height = 500;
  std::optional<std::string> historyFile;  // the default file when empty
  std::vector<std::string> names;          // every interface in the file when empty
};

inline constexpr int kMinChartSide = 100;
inline constexpr int kMaxChartSide = 8192;
// Each interface gets a band of the picture's height at least this tall.
inline constexpr int kMinBandHeight = 100;

// Checks and completes a request from the command line's words: the
// format from the output's extension (case-insensitive), the period, a
// size "WxH" within [kMinChartSide, kMaxChartSide] (empty keeps the
// default). Errors say what is wrong in the user's terms.
std::expected<ChartRequest, std::string> makeChartRequest(const std::string& output, const std::string& period,
                                                          const std::string& size,
                                                          const std::optional<std::string>& historyFile,
                                                          const std::vector<std::string>& names);

// The renderer's arguments (without the program itself).
std::vector<std::string> chartProgramArguments(const ChartRequest& request);

// The request in `arguments` (without the program itself), checked as
// makeChartRequest checks it.
std::expected<ChartRequest, std::string> parseChartProgramArguments(const std::vector<std::string>& arguments);

// Where beaconbar-chart is expected (see above); `fromEnvironment` is the
// value of BEACONBAR_CHART_PROGRAM or null.
std::string chartProgramPath(const char* fromEnvironment);

}  // namespace bcn::cli
