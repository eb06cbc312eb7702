#include "platform/files_beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/files_failure.h"

namespace bcn::files {
namespace {

using detail::failure;

// openat2 without links; `beneath` also keeps the walk inside `directory`.
int openWithoutLinks(int directory, const std::filesystem::path& path, std::uint64_t flags, bool beneath) {
  open_how how{};
  how.flags = flags | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | (beneath ? RESOLVE_BENEATH : 0);
  for (;;) {
    const long fd = ::syscall(SYS_openat2, directory, path.c_str(), &how, sizeof how);
    // EAGAIN: a rename elsewhere raced the lookup, which may be repeated.
    if (fd >= 0 || errno != EAGAIN) return static_cast<int>(fd);
  }
}

}  // namespace

std::expected<LookupDirectory, PlatformError> openDirectoryWithoutLinks(const std::filesystem::path& path) {
  LookupDirectory directory;
  directory.fd.reset(openWithoutLinks(AT_FDCWD, path, O_PATH | O_DIRECTORY, false));
  if (!directory.fd.valid()) return failure("open directory", path);
  struct stat st {};
  if (::fstat(directory.fd.get(), &st) != 0) return failure("stat", path);
  directory.owner = st.st_uid;
  return directory;
}

bool isDirectoryBeneath(const LookupDirectory& directory, const std::filesystem::path& relative) {
  return UniqueFd(openWithoutLinks(directory.fd.get(), relative, O_PATH | O_DIRECTORY, true)).valid();
}

std::expected<std::vector<std::uint8_t>, PlatformError> readFileBeneath(const LookupDirectory& directory,
                                                                        const std::filesystem::path& relative,
                                                                        std::size_t maxBytes) {
  UniqueFd located(openWithoutLinks(directory.fd.get(), relative, O_PATH, true));
  if (!located.valid()) return failure("open", relative);
  struct stat seen {};
  if (::fstat(located.get(), &seen) != 0) return failure("stat", relative);
  if (!S_ISREG(seen.st_mode) || seen.st_uid != directory.owner) {
    errno = S_ISREG(seen.st_mode) ? EPERM : S_ISDIR(seen.st_mode) ? EISDIR : EINVAL;
    return failure("read", relative);
  }
  if (static_cast<std::uint64_t>(seen.st_size) > maxBytes) {
    errno = EFBIG;
    return failure("read", relative);
  }
  // Opened again by name, so the file may have been swapped meanwhile:
  // O_NONBLOCK keeps a FIFO swapped in from blocking, and the content is
  // only read when it is still the file looked at.
  UniqueFd fd(openWithoutLinks(directory.fd.get(), relative, O_RDONLY | O_NONBLOCK | O_NOCTTY, true));
  if (!fd.valid()) return failure("open", relative);
  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0) return failure("stat", relative);
  if (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
    errno = EAGAIN;
    return failure("read", relative);
  }
  // Read one byte past the limit, so a file grown since the look is refused.
  std::vector<std::uint8_t> bytes(maxBytes + 1);
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure("read", relative);
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  if (filled > maxBytes) {
    errno = EFBIG;
    return failure("read", relative);
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace bcn::files
