// record: what watch records, without showing anything, until a signal
// (systemctl --user stop sends SIGTERM). Made to run as a user service, so
// it tells of changes in its state as single lines on standard error (the
// journal) and otherwise stays quiet.
#include <cstdio>

#include "netcore/interfaces/interface_reader.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/recording_loop.h"
#include "tools/beaconbar/recording_session.h"

namespace bcn::cli {
namespace {

void tell(const std::string& line) {
  std::fprintf(stderr, "beaconbar: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

int runRecord(const RecordOptions& options) {
  const auto path = historyPath(options.historyFile);
  if (!path) return fail(path.error());
  auto session = RecordingSession::open(*path, maxGapFor(options.intervalSeconds), Date::now());
  if (!session) return fail(session.error());

  SignalWaiter signals;
  InterfaceReader reader;
  session->record(reader.snapshot(), Date::now());
  tell(session->recording() ? "recording " + path->string() : standbyNotice(*session));
  const RecordingEvents events{
      .reading = nullptr,
      .notice =
          [&](const std::optional<std::string>& notice) {
            if (notice) {
              tell(*notice);
            } else if (session->recording()) {
              tell("recording " + path->string());
            }
          },
  };
  auto finished = runRecordingLoop(
      *session, reader, signals,
      {.intervalSeconds = options.intervalSeconds, .saveEverySeconds = options.saveEverySeconds}, events);
  if (!finished) return fail(finished.error());
  return 0;
}

}  // namespace bcn::cli
