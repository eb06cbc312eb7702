// RecordingSession: one process's part in keeping the traffic history.
// Several programs may watch traffic at once (`beaconbar watch`, `beaconbar
// record`, beaconbar-tray), but only the holder of the history file's lock
// records: it adds every reading to the histories and saves them. The
// others stand by: they take readings too (to show them) but never save,
// and each reading first checks whether the holder has let go, in which
// case the standby takes the lock over, reloads the file the holder saved
// last and starts recording from a fresh baseline. So the file never has
// two writers, and when the holder ends (saving a last reading on its way
// out) the history goes on with at most the time between two checks lost.
//
// A plain object with one owner; blocking file I/O in open(), takeOver()
// and save().
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "netcore/interfaces/interface_snapshot.h"
#include "platform/date.h"
#include "tools/beaconbar/history_file.h"
#include "tools/beaconbar/traffic_recorder.h"

namespace bcn::cli {

class RecordingSession {
 public:
  // Reads `file` (missing is empty; damaged is an error, so nothing is
  // ever recorded over it) and takes the lock when it is free. `maxGap` as
  // for TrafficRecorder.
  static std::expected<RecordingSession, std::string> open(const std::filesystem::path& file, double maxGap, Date now);

  bool recording() const { return lock_.has_value(); }
  const std::filesystem::path& file() const { return file_; }

  // Standing by: takes the lock when its holder has let go, reloads the
  // file and makes a reading taken then (`read` at `clock`) the new
  // baseline; nothing is read while the lock is held elsewhere. True when
  // this session records afterwards. Fails, still standing by, when the
  // reloaded file is damaged or the lock cannot be tried.
  std::expected<bool, std::string> takeOver(const std::function<std::vector<InterfaceSnapshot>()>& read,
                                            const std::function<Date()>& clock);

  // Feeds one reading (recorded or only shown, as recording() says).
  void record(const std::vector<InterfaceSnapshot>& snapshots, Date now) { recorder_.record(snapshots, now); }

  // Prunes and writes the histories atomically; nothing while standing by.
  std::expected<void, std::string> save(Date now);

  const TrafficRecorder& recorder() const { return recorder_; }

 private:
  RecordingSession(std::filesystem::path file, double maxGap, TrafficRecorder recorder,
                   std::optional<HistoryFileLock> lock)
      : file_(std::move(file)), maxGap_(maxGap), recorder_(std::move(recorder)), lock_(std::move(lock)) {}

  std::filesystem::path file_;
  double maxGap_;
  TrafficRecorder recorder_;
  std::optional<HistoryFileLock> lock_;
  std::optional<HistoryLockProbe> probe_;  // while standing by
};

}  // namespace bcn::cli
