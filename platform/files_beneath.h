// Reading a file inside a directory a less privileged user controls,
// without following that user's links: for the root daemon reading a
// user's bundle, where following a link would have root open whatever the
// user points it at. Stateless and thread-safe; every failure is a
// PlatformError in the POSIX domain naming the path and the failed step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <vector>

#include "platform/error.h"
#include "platform/unique_fd.h"

namespace bcn::files {

// A directory opened for lookups beneath it (O_PATH), reached without
// following a symbolic link anywhere on its path, and its owner. For paths
// the kernel reported (a process's executable), which hold no link unless
// someone swapped one in since.
struct LookupDirectory {
  UniqueFd fd;
  std::uint32_t owner = 0;
};
std::expected<LookupDirectory, PlatformError> openDirectoryWithoutLinks(const std::filesystem::path& path);

// Whether `relative` is a directory beneath `directory`, reached without
// links and without leaving it.
bool isDirectoryBeneath(const LookupDirectory& directory, const std::filesystem::path& relative);

// The whole content of regular file `relative` beneath `directory`, which
// must belong to the directory's owner (EPERM otherwise) and hold at most
// `maxBytes` (EFBIG). Resolved without following any symbolic link and
// never out of the directory ("..", absolute names): ELOOP for a link,
// EXDEV for a way out. The file is looked at through a path-only
// descriptor first, so another owner's file, a FIFO or a device is refused
// without ever being opened. ENOSYS on kernels older than 5.6.
std::expected<std::vector<std::uint8_t>, PlatformError> readFileBeneath(const LookupDirectory& directory,
                                                                        const std::filesystem::path& relative,
                                                                        std::size_t maxBytes);

}  // namespace bcn::files
