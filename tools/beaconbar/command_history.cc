// history: the stored traffic history, summarised; nothing is recorded.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/subprocess.h"
#include "tools/beaconbar/chart_request.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/history_file.h"
#include "tools/beaconbar/history_report.h"

namespace bcn::cli {

std::expected<std::filesystem::path, std::string> historyPath(const std::optional<std::string>& given) {
  if (given) return std::filesystem::path(*given);
  return defaultHistoryPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
}

namespace {

// The pictures come from beaconbar-chart, which draws with Qt; this tool
// stays free of it and only checks the request and runs the renderer.
int runHistoryChart(const HistoryOptions& options) {
  auto request = makeChartRequest(*options.chart, options.period, options.size, options.historyFile, options.names);
  if (!request) return fail(request.error(), kExitUsage);
  const std::string program = chartProgramPath(std::getenv("BEACONBAR_CHART_PROGRAM"));
  if (access(program.c_str(), X_OK) != 0) {
    return fail("cannot draw charts: " + program + " is not installed (it comes with the beaconbar-tray package)");
  }
  std::vector<std::string> argv{program};
  const auto arguments = chartProgramArguments(*request);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ProcessOptions limits;
  limits.timeout = std::chrono::seconds(120);
  const auto result = runProcess(argv, limits);
  if (!result) return fail("cannot run " + program + ": " + result.error().description);
  if (!result->standardOutput.empty()) printText(result->standardOutput);
  if (result->exited() && result->exitCode == 0) return 0;
  // The renderer says what went wrong in its own words ("beaconbar-chart: ...").
  std::fputs(result->standardError.c_str(), stderr);
  if (result->timedOut) return fail(program + " took too long and was stopped");
  if (!result->exited()) return fail(program + " was stopped by signal " + std::to_string(result->signal));
  return result->exitCode;
}

}  // namespace

int runHistory(const HistoryOptions& options) {
  if (options.chart) return runHistoryChart(options);
  const auto path = historyPath(options.historyFile);
  if (!path) return fail(path.error());
  auto histories = readHistoryFile(*path);
  if (!histories) return fail(histories.error());

  auto selected = selectHistories(std::move(*histories), options.names, *path);
  if (!selected) return fail(selected.error());

  const auto summaries = summarizeHistory(*selected, Date::now(), options.samples);
  if (options.json) {
    printJson(historyJson(path->string(), summaries));
  } else if (summaries.empty()) {
    printText("No traffic history in " + path->string() + " yet; beaconbar watch records it.\n");
  } else {
    printText(formatHistory(path->string(), summaries));
  }
  return 0;
}

}  // namespace bcn::cli
