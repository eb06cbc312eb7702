// Base directories of the XDG layout: where the tool keeps its state
// (traffic history) and its configuration (the pairing token). Pure
// function; thread-safe.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace bcn::cli {

// `value` (the XDG variable, e.g. $XDG_CONFIG_HOME) when it is an absolute
// path; otherwise `home` joined with `fallbackUnderHome` (".config") when
// home is absolute; otherwise nothing. Empty and relative XDG values are to
// be ignored, as the XDG base-directory rules say. Either pointer may be null.
std::optional<std::filesystem::path> xdgDirectory(const char* value, const char* home,
                                                  std::string_view fallbackUnderHome);

}  // namespace bcn::cli
