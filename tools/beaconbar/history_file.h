// Where the tool keeps its traffic history, reading it strictly, and the
// lock that gives one recorder at a time (`beaconbar watch`, `beaconbar
// record`, beaconbar-tray) the right to write it.
//
// HistoryStore::load() reads a damaged file as empty, which is right for a
// reader that only shows data but would let a recorder overwrite the old
// history with a fresh one. The tool therefore reads the file itself and
// treats damage as an error: nothing is recorded over a file it cannot
// read.
//
// Thread-safe functions; a HistoryFileLock belongs to one owner.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "netcore/history/history_store.h"
#include "netcore/history/rate_history.h"

namespace bcn::cli {

// raw 10 minutes, minute tier 1 day, hour tier 30 days.
inline constexpr RateHistory::Retention kHistoryRetention{600, 86400, 30 * 86400};

// $XDG_STATE_HOME/beaconbar/history.plist, or ~/.local/state/... when
// XDG_STATE_HOME is unset, empty or relative (such values are to be
// ignored). Either argument may be null (unset). Fails when neither gives
// an absolute directory.
std::expected<std::filesystem::path, std::string> defaultHistoryPath(const char* xdgStateHome, const char* home);

// The histories in the file; an empty map when the file does not exist.
// Any other failure (unreadable, oversized, damaged) is an error naming
// the file and the fault.
std::expected<HistoryMap, std::string> readHistoryFile(const std::filesystem::path& path);

// The histories named in `names` (all of `histories` when none are), or an
// error naming the first one `histories` lacks and the file (`file`) it was
// looked for in.
std::expected<HistoryMap, std::string> selectHistories(HistoryMap histories, const std::vector<std::string>& names,
                                                       const std::filesystem::path& file);

// An exclusive advisory lock on "<file>.lock" beside the history file
// (directories created as needed), held until destruction.
class HistoryFileLock {
 public:
  // Empty when another process holds the lock; fails when the lock file
  // cannot be made or locked.
  static std::expected<std::optional<HistoryFileLock>, std::string> tryAcquire(
      const std::filesystem::path& historyFile);

  HistoryFileLock(HistoryFileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  HistoryFileLock& operator=(HistoryFileLock&&) = delete;
  HistoryFileLock(const HistoryFileLock&) = delete;
  ~HistoryFileLock();

 private:
  friend class HistoryLockProbe;
  explicit HistoryFileLock(int fd) : fd_(fd) {}
  int fd_;
};

// A standby recorder's way to the lock: the lock file opened once, so each
// try is one system call (a standby tries often, and sits idle for hours).
class HistoryLockProbe {
 public:
  // Opens "<file>.lock" (directories created as needed) without locking it.
  static std::expected<HistoryLockProbe, std::string> open(const std::filesystem::path& historyFile);

  // The lock when it is free now, which uses the probe up; empty while
  // another process holds it.
  std::expected<std::optional<HistoryFileLock>, std::string> tryAcquire();

  HistoryLockProbe(HistoryLockProbe&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)), lockPath_(std::move(other.lockPath_)) {}
  HistoryLockProbe& operator=(HistoryLockProbe&&) = delete;
  HistoryLockProbe(const HistoryLockProbe&) = delete;
  ~HistoryLockProbe();

 private:
  HistoryLockProbe(int fd, std::string lockPath) : fd_(fd), lockPath_(std::move(lockPath)) {}
  int fd_;
  std::string lockPath_;
};

}  // namespace bcn::cli
