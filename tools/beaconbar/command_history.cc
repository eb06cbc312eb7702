// history: the stored traffic history, summarised; nothing is recorded.
#include <cstdlib>

#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/history_file.h"
#include "tools/beaconbar/history_report.h"

namespace bcn::cli {

std::expected<std::filesystem::path, std::string> historyPath(const std::optional<std::string>& given) {
  if (given) return std::filesystem::path(*given);
  return defaultHistoryPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
}

int runHistory(const HistoryOptions& options) {
  const auto path = historyPath(options.historyFile);
  if (!path) return fail(path.error());
  auto histories = readHistoryFile(*path);
  if (!histories) return fail(histories.error());

  HistoryMap selected;
  if (options.names.empty()) {
    selected = std::move(*histories);
  } else {
    for (const std::string& name : options.names) {
      auto found = histories->find(name);
      if (found == histories->end()) return fail("no traffic history for " + name + " in " + path->string());
      selected.insert(*found);
    }
  }

  const auto summaries = summarizeHistory(selected, Date::now(), options.samples);
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
