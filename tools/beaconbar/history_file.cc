#include "tools/beaconbar/history_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/plist.h"
#include "tools/beaconbar/xdg_directory.h"

namespace bcn::cli {

std::expected<std::filesystem::path, std::string> defaultHistoryPath(const char* xdgStateHome, const char* home) {
  const auto base = xdgDirectory(xdgStateHome, home, ".local/state");
  if (!base) return std::unexpected("cannot tell where to keep the traffic history: set XDG_STATE_HOME or HOME");
  return *base / "beaconbar" / "history.plist";
}

std::expected<HistoryMap, std::string> readHistoryFile(const std::filesystem::path& path) {
  auto bytes = files::readFile(path, PlistLimits::kMaxBytes);
  if (!bytes) {
    if (bytes.error().domain == PlatformError::kPosixDomain && bytes.error().code == ENOENT) return HistoryMap{};
    return std::unexpected("cannot read the traffic history: " + bytes.error().description);
  }
  auto histories = decodeHistoryFile(*bytes);
  if (!histories) {
    return std::unexpected("the traffic history " + path.string() + " is damaged (" + histories.error().description +
                           "); move it aside to start a new one");
  }
  return std::move(*histories);
}

std::expected<HistoryMap, std::string> selectHistories(HistoryMap histories, const std::vector<std::string>& names,
                                                       const std::filesystem::path& file) {
  if (names.empty()) return histories;
  HistoryMap selected;
  for (const std::string& name : names) {
    auto found = histories.find(name);
    if (found == histories.end()) return std::unexpected("no traffic history for " + name + " in " + file.string());
    selected.insert(*found);
  }
  return selected;
}

std::expected<std::optional<HistoryFileLock>, std::string> HistoryFileLock::tryAcquire(
    const std::filesystem::path& historyFile) {
  auto probe = HistoryLockProbe::open(historyFile);
  if (!probe) return std::unexpected(probe.error());
  return probe->tryAcquire();
}

std::expected<HistoryLockProbe, std::string> HistoryLockProbe::open(const std::filesystem::path& historyFile) {
  const std::filesystem::path directory = historyFile.parent_path();
  if (!directory.empty()) {
    if (auto made = files::createDirectories(directory, 0755); !made) {
      return std::unexpected("cannot create " + directory.string() + ": " + made.error().description);
    }
  }
  std::string lockPath = historyFile.string() + ".lock";
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return std::unexpected("cannot open " + lockPath + ": " + std::strerror(errno));
  return HistoryLockProbe(fd, std::move(lockPath));
}

std::expected<std::optional<HistoryFileLock>, std::string> HistoryLockProbe::tryAcquire() {
  if (fd_ < 0) return std::unexpected("the lock on " + lockPath_ + " was taken already");
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return std::nullopt;
    return std::unexpected("cannot lock " + lockPath_ + ": " + std::strerror(errno));
  }
  return std::optional<HistoryFileLock>(HistoryFileLock(std::exchange(fd_, -1)));
}

HistoryLockProbe::~HistoryLockProbe() {
  if (fd_ >= 0) close(fd_);
}

HistoryFileLock::~HistoryFileLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace bcn::cli
