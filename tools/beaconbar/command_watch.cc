// watch: a reading every interval, shown as it comes, recorded into the
// traffic history, which is saved every minute and when the watch ends.
#include <chrono>
#include <csignal>
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

Clock::duration seconds(double value) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

// Shows each reading: redrawn in place on a terminal, as lines otherwise.
class WatchDisplay {
 public:
  WatchDisplay(bool json, bool terminal, double interval) : json_(json), interval_(interval) {
    if (terminal && !json) live_.emplace(stdout);
  }

  // False once standard output is gone (a closed pipe): nobody is
  // watching any more.
  bool show(Date now, const std::vector<WatchRow>& rows) {
    if (json_) {
      printJsonLine(watchTickJson(now, rows));
    } else if (live_) {
      showLive(rows);
    } else {
      showLines(now, rows);
    }
    std::fflush(stdout);
    return std::ferror(stdout) == 0;
  }

  // A problem to report while the watch goes on: inside the live block on
  // a terminal (a line of its own would shift the block), else on stderr.
  void setNotice(const std::optional<std::string>& notice) {
    if (notice && !live_) std::fprintf(stderr, "beaconbar: %s\n", notice->c_str());
    notice_ = notice;
  }

 private:
  void showLive(const std::vector<WatchRow>& rows) {
    char interval[32];
    std::snprintf(interval, sizeof interval, "%g s", interval_);
    const std::size_t width = watchNameWidth(rows);
    std::vector<std::string> lines{"Traffic in bytes per second every " + std::string(interval) +
                                       " (K = KiB, M = MiB); Ctrl-C saves the history and quits",
                                   formatWatchHeader(width)};
    for (const WatchRow& row : rows) lines.push_back(formatWatchRow(row, width));
    if (notice_) lines.push_back("beaconbar: " + *notice_);
    live_->show(lines);
  }

  void showLines(Date now, const std::vector<WatchRow>& rows) {
    const std::size_t width = watchNameWidth(rows);
    if (!headerShown_) {
      printText(padRight("TIME", 20) + "  " + formatWatchHeader(width) + "\n");
      headerShown_ = true;
    }
    for (const WatchRow& row : rows) printText(formatTimestamp(now) + "  " + formatWatchRow(row, width) + "\n");
  }

  bool json_;
  double interval_;
  bool headerShown_ = false;
  std::optional<std::string> notice_;
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

  // `beaconbar watch | head` must end the watch through a write error, with
  // the history saved, not through SIGPIPE's silent death.
  std::signal(SIGPIPE, SIG_IGN);
  SignalWaiter signals;
  InterfaceReader reader;
  TrafficRecorder recorder(std::move(*loaded), kHistoryRetention, maxGapFor(options.intervalSeconds), Date::now());
  recorder.record(reader.snapshot(), Date::now());
  for (const WatchRow& row : recorder.rows(options.names, Date::now())) {
    if (!row.present) return fail("no interface named " + row.name);
  }

  const auto interval = seconds(options.intervalSeconds);
  const auto saveEvery = seconds(options.saveEverySeconds);
  {
    WatchDisplay display(options.json, isTerminal(stdout), options.intervalSeconds);
    bool watched = display.show(Date::now(), recorder.rows(options.names, Date::now()));
    std::optional<std::string> saveProblem;
    auto nextReading = Clock::now() + interval;
    auto nextSave = Clock::now() + saveEvery;
    // Readings keep to a fixed schedule, so the interval does not drift by
    // the time each reading takes.
    while (watched && !signals.waitFor(std::max(Clock::duration::zero(), nextReading - Clock::now()))) {
      nextReading += interval;
      if (nextReading < Clock::now()) nextReading = Clock::now() + interval;
      const Date now = Date::now();
      recorder.record(reader.snapshot(), now);
      if (Clock::now() >= nextSave) {
        nextSave = Clock::now() + saveEvery;
        recorder.prune(now);
        auto saved = store.save(recorder.histories());
        // Reported once, not every minute; the next save tries again.
        std::optional<std::string> problem;
        if (!saved) problem = "cannot save the traffic history: " + saved.error().description;
        if (problem != saveProblem) display.setNotice(problem);
        saveProblem = problem;
      }
      watched = display.show(now, recorder.rows(options.names, now));
    }
  }
  recorder.prune(Date::now());
  if (auto saved = store.save(recorder.histories()); !saved) {
    return fail("cannot save the traffic history: " + saved.error().description);
  }
  return 0;
}

}  // namespace bcn::cli
