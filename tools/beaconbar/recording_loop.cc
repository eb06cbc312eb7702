#include "tools/beaconbar/recording_loop.h"

#include <algorithm>
#include <chrono>

namespace bcn::cli {
namespace {

using Clock = std::chrono::steady_clock;

Clock::duration toDuration(double value) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

constexpr auto kLockPoll = std::chrono::milliseconds(100);

}  // namespace

double maxGapFor(double intervalSeconds) { return std::max(3 * intervalSeconds, intervalSeconds + 5); }

std::string standbyNotice(const RecordingSession& session) {
  return "another recorder is recording " + session.file().string() + "; recording here starts when it stops";
}

std::expected<void, std::string> runRecordingLoop(RecordingSession& session, InterfaceReader& reader,
                                                  SignalWaiter& signals, const RecordingSchedule& schedule,
                                                  const RecordingEvents& events) {
  const auto interval = toDuration(schedule.intervalSeconds);
  const auto saveEvery = toDuration(schedule.saveEverySeconds);
  // Empty for none.
  std::string shown;
  std::string saveProblem;
  std::string takeOverProblem;
  auto tell = [&] {
    std::string notice = saveProblem.empty() ? takeOverProblem : saveProblem;
    if (notice.empty() && !session.recording()) notice = standbyNotice(session);
    if (notice == shown) return;
    shown = notice;
    if (!events.notice) return;
    if (notice.empty()) {
      events.notice(std::nullopt);
    } else {
      events.notice(notice);
    }
  };
  // A standby's first notice comes from the caller, which knows it began
  // that way; only changes are told here.
  if (!session.recording()) shown = standbyNotice(session);

  auto nextReading = Clock::now() + interval;
  auto nextSave = Clock::now() + saveEvery;
  // After a failed takeover (a damaged file), the next try waits a reading.
  auto nextTakeOver = Clock::now();
  bool going = true;
  while (going) {
    auto wake = nextReading;
    if (!session.recording()) wake = std::min(wake, std::max(nextTakeOver, Clock::now() + kLockPoll));
    if (signals.waitFor(std::max(Clock::duration::zero(), wake - Clock::now()))) break;
    if (!session.recording() && Clock::now() >= nextTakeOver) {
      auto took = session.takeOver([&] { return reader.snapshot(); }, [] { return Date::now(); });
      takeOverProblem.clear();
      if (!took) {
        takeOverProblem = took.error();
        nextTakeOver = Clock::now() + interval;
      }
      if (took && *took) nextSave = Clock::now() + saveEvery;
      tell();
    }
    if (Clock::now() < nextReading) continue;
    nextReading += interval;
    if (nextReading < Clock::now()) nextReading = Clock::now() + interval;
    const Date now = Date::now();
    session.record(reader.snapshot(), now);
    if (session.recording() && Clock::now() >= nextSave) {
      nextSave = Clock::now() + saveEvery;
      auto saved = session.save(now);
      // Told once, not every minute; the next save tries again.
      saveProblem = saved ? "" : saved.error();
      tell();
    }
    if (events.reading) going = events.reading(now, session);
  }
  if (!session.recording()) return {};
  // The traffic since the last scheduled reading belongs in the history too.
  const Date now = Date::now();
  session.record(reader.snapshot(), now);
  return session.save(now);
}

}  // namespace bcn::cli
