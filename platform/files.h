// Whole-file reads and crash-safe whole-file writes, directory creation and
// POSIX ownership. Stateless and thread-safe; every failure is a
// PlatformError in the POSIX domain naming the path and the failed step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace bcn::files {

// The whole content of a regular file. Fails for anything that is not a
// regular file and for files larger than `maxBytes` (EFBIG).
std::expected<std::vector<std::uint8_t>, PlatformError> readFile(const std::filesystem::path& path,
                                                                 std::size_t maxBytes);

// readFile, for a file that must belong to `owner`: fails with EPERM when
// the file (links followed) has another owner. The owner is checked on the
// opened file, so a link swapped in meanwhile cannot change the answer. For
// reading on behalf of a less privileged user without revealing files that
// user does not own.
std::expected<std::vector<std::uint8_t>, PlatformError> readFileOwnedBy(const std::filesystem::path& path,
                                                                        std::size_t maxBytes, std::uint32_t owner);

// Replaces `path` with `bytes` so that after a crash at any moment the path
// holds either the old content or the new one, never a mixture: the bytes
// go to an unnamed file in the same directory with permissions `mode`, are
// flushed to disk, renamed over `path`, and the directory is flushed. On
// failure the old file is untouched and no temporary file is left behind.
// A process killed in the instant between naming its temporary file and
// renaming it strands that file; a later successful write removes it once
// its writer is gone and it is a minute old.
// REQUIRES: the parent directory exists.
std::expected<void, PlatformError> writeFileAtomically(const std::filesystem::path& path,
                                                       std::span<const std::uint8_t> bytes, std::uint32_t mode);

// Renames `path` to the first free sibling name "<name>.<tag>",
// "<name>.<tag>-2", … "<name>.<tag>-99" and returns it. Never replaces an
// existing file (EEXIST when every name is taken). For a file that exists
// but cannot be used: moving it out of the way keeps its bytes for a person
// to look at, where the next save would otherwise destroy them.
std::expected<std::filesystem::path, PlatformError> setAside(const std::filesystem::path& path, std::string_view tag);

// Creates `path` and any missing parents, each with exactly `mode` (the
// umask does not apply). Existing directories are fine and keep their
// permissions; an existing non-directory on the way fails with ENOTDIR.
std::expected<void, PlatformError> createDirectories(const std::filesystem::path& path, std::uint32_t mode);

// Sets owner and group, then permissions (in that order, since a change of
// owner can clear mode bits).
std::expected<void, PlatformError> setModeAndOwner(const std::filesystem::path& path, std::uint32_t mode,
                                                   std::uint32_t uid, std::uint32_t gid);

}  // namespace bcn::files
