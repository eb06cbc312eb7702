#include "tools/beaconbar/xdg_directory.h"

namespace bcn::cli {

std::optional<std::filesystem::path> xdgDirectory(const char* value, const char* home,
                                                  std::string_view fallbackUnderHome) {
  if (value != nullptr && std::filesystem::path(value).is_absolute()) return std::filesystem::path(value);
  if (home != nullptr && std::filesystem::path(home).is_absolute()) {
    return std::filesystem::path(home) / fallbackUnderHome;
  }
  return std::nullopt;
}

}  // namespace bcn::cli
