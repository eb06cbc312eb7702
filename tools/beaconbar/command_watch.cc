// watch: a reading every interval, shown as it comes, recorded into the
// traffic history, which is saved every minute and when the watch ends.
#include <chrono>
#include <cstdio>

#include "netcore/interfaces/interface_reader.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/history_file.h"
#include "tools/beaconbar/signal_waiter.h"
#include "tools/beaconbar/terminal.h"
#include "tools/beaconbar/text_table.h"
#include "tools/beaconbar/traffic_recorder.h"
#include "tools/beaconbar/units.h"

namespace bcn::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A reading that comes much later than planned (a suspended machine, a
// stopped process) must not spread its traffic over the whole gap.
double maxGapFor(double interval) { return std::max(3 * interval, interval + 5); }

// Shows each reading: redrawn in place on a terminal, as lines otherwise.
class WatchDisplay {
 public:
  WatchDisplay(bool json, bool terminal, double interval) : json_(json), interval_(interval) {
    if (terminal && !json) live_.emplace(stdout);
  }

  void show(Date now, const std::vector<WatchRow>& rows) {
    if (json_) return printJsonLine(watchTickJson(now, rows));
    const std::size_t width = watchNameWidth(rows);
    if (live_) {
      std::vector<std::string> lines{"Traffic in bytes per second every " + formatSeconds() +
                                         " (K = KiB, M = MiB); Ctrl-C saves the history and quits",
                                     formatWatchHeader(width)};
      for (const WatchRow& row : rows) lines.push_back(formatWatchRow(row, width));
      return live_->show(lines);
    }
    if (!headerShown_) {
      printText(padRight("TIME", 20) + "  " + formatWatchHeader(width) + "\n");
      headerShown_ = true;
    }
    for (const WatchRow& row : rows) printText(formatTimestamp(now) + "  " + formatWatchRow(row, width) + "\n");
    std::fflush(stdout);
  }

 private:
  std::string formatSeconds() const {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g s", interval_);
    return buffer;
  }

  bool json_;
  double interval_;
  bool headerShown_ = false;
  std::optional<LiveBlock> live_;
};

}  // namespace

int runWatch(const WatchOptions& options) {
  const auto path = historyPath(options.historyFile);
  if (!path) return fail(path.error());
  auto lock = HistoryFileLock::acquire(*path);
  if (!lock) return fail(lock.error());
  auto loaded = readHistoryFile(*path);
  if (!loaded) return fail(loaded.error());
  const HistoryStore store(*path);

  SignalWaiter signals;
  InterfaceReader reader;
  TrafficRecorder recorder(std::move(*loaded), kHistoryRetention, maxGapFor(options.intervalSeconds), Date::now());
  recorder.record(reader.snapshot(), Date::now());
  for (const WatchRow& row : recorder.rows(options.names, Date::now())) {
    if (!row.present) return fail("no interface named " + row.name);
  }

  const auto interval =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.intervalSeconds));
  const auto saveEvery =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.saveEverySeconds));
  std::optional<std::string> lastSaveError;
  {
    WatchDisplay display(options.json, isTerminal(stdout), options.intervalSeconds);
    display.show(Date::now(), recorder.rows(options.names, Date::now()));
    auto nextReading = Clock::now() + interval;
    auto nextSave = Clock::now() + saveEvery;
    // Readings keep to a fixed schedule, so the interval does not drift by
    // the time each reading takes.
    while (!signals.waitFor(std::max(Clock::duration::zero(), nextReading - Clock::now()))) {
      nextReading += interval;
      if (nextReading < Clock::now()) nextReading = Clock::now() + interval;
      const Date now = Date::now();
      recorder.record(reader.snapshot(), now);
      display.show(now, recorder.rows(options.names, now));
      if (Clock::now() >= nextSave) {
        nextSave = Clock::now() + saveEvery;
        recorder.prune(now);
        auto saved = store.save(recorder.histories());
        // A failure is reported once, not every minute; the next save tries again.
        if (!saved && lastSaveError != saved.error().description) {
          lastSaveError = saved.error().description;
          std::fprintf(stderr, "beaconbar: cannot save the traffic history: %s\n", lastSaveError->c_str());
        } else if (saved) {
          lastSaveError.reset();
        }
      }
    }
  }
  recorder.prune(Date::now());
  if (auto saved = store.save(recorder.histories()); !saved) {
    return fail("cannot save the traffic history: " + saved.error().description);
  }
  return 0;
}

}  // namespace bcn::cli
