#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <optional>
#include <string>

#include "platform/files_failure.h"
#include "platform/unique_fd.h"

namespace bcn::files {
namespace {

using detail::failure;

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

// A name no other writer in this or another process uses at the same time.
std::string temporaryName(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict
  // overlap for `"." + std::string` (GCC bug 105651).
  std::string name = ".";
  name += target.filename().string();
  name += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
  return name;
}

// Calls `attempt` with fresh temporary names until it succeeds or fails for
// a reason other than the name being taken — by a file stranded when an
// earlier process with the same pid crashed, say. Returns the last
// result; `name` holds the name that attempt used.
template <typename Attempt>
int withFreshName(const std::filesystem::path& target, std::string& name, Attempt attempt) {
  for (int tries = 1;; ++tries) {
    name = temporaryName(target);
    const int rc = attempt(name.c_str());
    if (rc >= 0 || errno != EEXIST || tries == 1000) return rc;
  }
}

// Temporary files of `target` that an earlier writer, killed between
// linking and renaming, left behind. One is only removed when its name says
// which process wrote it, that process is gone, and the file has not been
// touched for a minute: a writer in another pid namespace (whose pid means
// nothing here) is never that slow between its last write and its rename.
// Best effort; a failure only leaves the file for the next save.
void sweepStrandedTemporaries(int dirFd, const std::filesystem::path& target) {
  const std::string prefix = "." + target.filename().string() + ".tmp-";
  DIR* listing = ::fdopendir(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing == nullptr) return;
  const auto now = std::chrono::system_clock::now();
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix)) continue;
    std::string_view rest = name.substr(prefix.size());
    pid_t writer = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), writer);
    if (error != std::errc{} || end == rest.data() || *end != '-' || writer <= 0) continue;
    if (writer == ::getpid() || ::kill(writer, 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    const auto modified = std::chrono::system_clock::time_point(std::chrono::seconds(st.st_mtim.tv_sec));
    if (now - modified < std::chrono::minutes(1)) continue;
    ::unlinkat(dirFd, entry->d_name, 0);
  }
  ::closedir(listing);
}

// readFile, refusing a file whose owner is not `owner` when one is given.
std::expected<std::vector<std::uint8_t>, PlatformError> readFileIf(const std::filesystem::path& path,
                                                                   std::size_t maxBytes,
                                                                   std::optional<std::uint32_t> owner) {
  // O_NONBLOCK: opening a FIFO planted where a file is expected would
  // otherwise wait for a writer forever; it is refused below instead.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return failure("open", path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return failure("stat", path);
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return failure("read", path);
  }
  if (owner && st.st_uid != *owner) {
    errno = EPERM;
    return failure("read", path);
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), maxBytes));
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure("read", path);
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      errno = EFBIG;
      return failure("read", path);
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

}  // namespace

std::expected<std::vector<std::uint8_t>, PlatformError> readFile(const std::filesystem::path& path,
                                                                 std::size_t maxBytes) {
  return readFileIf(path, maxBytes, std::nullopt);
}

std::expected<std::vector<std::uint8_t>, PlatformError> readFileOwnedBy(const std::filesystem::path& path,
                                                                        std::size_t maxBytes, std::uint32_t owner) {
  return readFileIf(path, maxBytes, owner);
}

std::expected<void, PlatformError> writeFileAtomically(const std::filesystem::path& path,
                                                       std::span<const std::uint8_t> bytes, std::uint32_t mode) {
  const std::filesystem::path directory = path.has_parent_path() ? path.parent_path() : ".";
  UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return failure("open directory", directory);

  // An unnamed file cannot be left behind by a crash before it is linked.
  // File systems without O_TMPFILE get a named one from the start.
  std::string tempName;
  bool named = false;
  UniqueFd file(::openat(dir.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (!file.valid()) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      return failure("create temporary file in", directory);
    }
    file.reset(withFreshName(path, tempName, [&](const char* name) {
      return ::openat(dir.get(), name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
    }));
    if (!file.valid()) return failure("create temporary file in", directory);
    named = true;
  }
  auto fail = [&](const std::string& step) {
    const int saved = errno;
    if (named) ::unlinkat(dir.get(), tempName.c_str(), 0);
    errno = saved;
    return failure(step, path);
  };

  if (::fchmod(file.get(), mode) != 0 || !writeAll(file.get(), bytes) || ::fsync(file.get()) != 0) {
    return fail("write");
  }
  if (!named) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(file.get());
    const int linked = withFreshName(path, tempName, [&](const char* name) {
      return ::linkat(AT_FDCWD, procPath.c_str(), dir.get(), name, AT_SYMLINK_FOLLOW);
    });
    if (linked != 0) {
      return fail("link temporary file for");
    }
    named = true;
  }
  // Rename straight after linking: the link is the only moment a crash can
  // strand a named temporary file.
  if (::renameat(dir.get(), tempName.c_str(), dir.get(), path.filename().c_str()) != 0) {
    return fail("rename over");
  }
  // The content is already flushed, so a late close error is only reported.
  if (file.close() != 0) return failure("close", path);
  sweepStrandedTemporaries(dir.get(), path);
  if (::fsync(dir.get()) != 0) return failure("flush directory", directory);
  return {};
}

std::expected<std::filesystem::path, PlatformError> setAside(const std::filesystem::path& path, std::string_view tag) {
  for (int attempt = 1; attempt <= 99; ++attempt) {
    std::filesystem::path aside = path;
    aside += "." + std::string(tag);
    if (attempt > 1) aside += "-" + std::to_string(attempt);
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
    if (errno != EEXIST) return failure("move aside", path);
  }
  errno = EEXIST;
  return failure("move aside", path);
}

std::expected<void, PlatformError> createDirectories(const std::filesystem::path& path, std::uint32_t mode) {
  std::filesystem::path prefix;
  for (const auto& component : path.lexically_normal()) {
    prefix /= component;
    if (component.empty() || component == "/" || component == "." || component == "..") continue;
    if (::mkdir(prefix.c_str(), mode) == 0) {
      if (::chmod(prefix.c_str(), mode) != 0) return failure("set mode of", prefix);
      continue;
    }
    if (errno != EEXIST) return failure("create directory", prefix);
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) return failure("stat", prefix);
    if (!S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return failure("create directory", prefix);
    }
  }
  return {};
}

std::expected<void, PlatformError> setModeAndOwner(const std::filesystem::path& path, std::uint32_t mode,
                                                   std::uint32_t uid, std::uint32_t gid) {
  if (::chown(path.c_str(), uid, gid) != 0) return failure("set owner of", path);
  if (::chmod(path.c_str(), mode) != 0) return failure("set mode of", path);
  return {};
}

}  // namespace bcn::files
