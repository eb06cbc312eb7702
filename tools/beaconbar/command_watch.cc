// watch: a reading every interval, shown as it comes, recorded into the
// traffic history, which is saved every minute and when the watch ends.
// Behind another recorder it only shows, until that one stops.
#include <csignal>
#include <cstdio>

#include "netcore/interfaces/interface_reader.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/recording_loop.h"
#include "tools/beaconbar/recording_session.h"
#include "tools/beaconbar/signal_waiter.h"
#include "tools/beaconbar/terminal.h"
#include "tools/beaconbar/text_table.h"
#include "tools/beaconbar/units.h"

namespace bcn::cli {
namespace {

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
  auto session = RecordingSession::open(*path, maxGapFor(options.intervalSeconds), Date::now());
  if (!session) return fail(session.error());

  // `beaconbar watch | head` must end the watch through a write error, with
  // the history saved, not through SIGPIPE's silent death.
  std::signal(SIGPIPE, SIG_IGN);
  SignalWaiter signals;
  InterfaceReader reader;
  session->record(reader.snapshot(), Date::now());
  for (const WatchRow& row : session->recorder().rows(options.names, Date::now())) {
    if (!row.present) return fail("no interface named " + row.name);
  }

  std::expected<void, std::string> finished;
  {
    WatchDisplay display(options.json, isTerminal(stdout), options.intervalSeconds);
    if (!session->recording()) display.setNotice(standbyNotice(*session));
    if (display.show(Date::now(), session->recorder().rows(options.names, Date::now()))) {
      const RecordingEvents events{
          .reading =
              [&](Date now, const RecordingSession& s) {
                return display.show(now, s.recorder().rows(options.names, now));
              },
          .notice = [&](const std::optional<std::string>& notice) { display.setNotice(notice); },
      };
      finished = runRecordingLoop(
          *session, reader, signals,
          {.intervalSeconds = options.intervalSeconds, .saveEverySeconds = options.saveEverySeconds}, events);
    } else {
      finished = session->save(Date::now());
    }
  }
  if (!finished) return fail(finished.error());
  return 0;
}

}  // namespace bcn::cli
