// The reading schedule `beaconbar watch` and `beaconbar record` share: a
// reading every interval on a fixed schedule (so it does not drift by the
// time each reading takes), a save every `saveEvery` while recording, and a
// last reading and save when a signal (SignalWaiter) or the caller ends
// the loop. While the session stands by, the lock is tried every 100 ms as
// well, so a takeover loses little of the traffic after the holder's last
// reading.
//
// REQUIRES: the caller has taken the first reading already, and runs the
// loop on the thread that made `signals`.
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>

#include "netcore/interfaces/interface_reader.h"
#include "tools/beaconbar/recording_session.h"
#include "tools/beaconbar/signal_waiter.h"

namespace bcn::cli {

struct RecordingSchedule {
  double intervalSeconds = 1.0;
  double saveEverySeconds = 60.0;
};

struct RecordingEvents {
  // After every reading; false ends the loop (a reader gone away).
  std::function<bool(Date now, const RecordingSession& session)> reading;
  // The problem or state to tell the user about, each time it changes:
  // standing by behind another recorder, a failed save, a failed takeover;
  // empty once it is over.
  std::function<void(const std::optional<std::string>& notice)> notice;
};

// The most a reading may come late and still count as traffic: a reading
// much later than planned (a suspended machine, a stopped process) must not
// spread its traffic over the whole gap.
double maxGapFor(double intervalSeconds);

// Fails only when the last save fails.
std::expected<void, std::string> runRecordingLoop(RecordingSession& session, InterfaceReader& reader,
                                                  SignalWaiter& signals, const RecordingSchedule& schedule,
                                                  const RecordingEvents& events);

// The notice for a session standing by.
std::string standbyNotice(const RecordingSession& session);

}  // namespace bcn::cli
