#include "tools/beaconbar/recording_session.h"

#include "netcore/history/history_store.h"

namespace bcn::cli {

std::expected<RecordingSession, std::string> RecordingSession::open(const std::filesystem::path& file, double maxGap,
                                                                    Date now) {
  // The lock first: a holder may be saving, and the file read after taking
  // the lock is the one it saved last.
  auto lock = HistoryFileLock::tryAcquire(file);
  if (!lock) return std::unexpected(lock.error());
  auto loaded = readHistoryFile(file);
  if (!loaded) return std::unexpected(loaded.error());
  return RecordingSession(file, maxGap, TrafficRecorder(std::move(*loaded), kHistoryRetention, maxGap, now),
                          std::move(*lock));
}

std::expected<bool, std::string> RecordingSession::takeOver(const std::function<std::vector<InterfaceSnapshot>()>& read,
                                                            const std::function<Date()>& clock) {
  if (lock_) return true;
  if (!probe_) {
    auto probe = HistoryLockProbe::open(file_);
    if (!probe) return std::unexpected(probe.error());
    probe_.emplace(std::move(*probe));
  }
  auto lock = probe_->tryAcquire();
  if (!lock) return std::unexpected(lock.error());
  if (!*lock) return false;
  // Used up by the lock; a failed takeover below opens a new one next time.
  probe_.reset();
  auto loaded = readHistoryFile(file_);
  if (!loaded) return std::unexpected(loaded.error());
  // What this session saw while standing by is in the file already, saved
  // by the holder; only the holder's file counts from here on.
  const Date now = clock();
  recorder_ = TrafficRecorder(std::move(*loaded), kHistoryRetention, maxGap_, now);
  recorder_.record(read(), now);
  lock_.emplace(std::move(**lock));
  return true;
}

std::expected<void, std::string> RecordingSession::save(Date now) {
  if (!lock_) return {};
  recorder_.prune(now);
  if (auto saved = HistoryStore(file_).save(recorder_.histories()); !saved) {
    return std::unexpected("cannot save the traffic history: " + saved.error().description);
  }
  return {};
}

}  // namespace bcn::cli
