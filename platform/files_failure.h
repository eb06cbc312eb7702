// Internal to platform/: the error of a file step that failed, taken from
// errno, for the atomic files and the reads beneath a directory alike.
#pragma once

#include <cerrno>
#include <expected>
#include <filesystem>
#include <string>

#include "platform/error.h"

namespace bcn::files::detail {

inline std::unexpected<PlatformError> failure(const std::string& step, const std::filesystem::path& path) {
  return std::unexpected(PlatformError::fromErrno(errno, step + " " + path.string()));
}

}  // namespace bcn::files::detail
