#include "netcore/shim/proc_fdinfo.h"

#include <limits>

namespace bcn {
namespace {

constexpr std::string_view kIffTag = "iff:";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The kernel's own rule for interface names (dev_valid_name).
bool isValidInterfaceName(std::string_view name) {
  if (name.empty() || name.size() > kMaxInterfaceNameLength || name == "." || name == "..") {
    return false;
  }
  for (const char c : name) {
    if (c == '/' || c == ':' || c == '\0' || c == ' ' || (c >= '\t' && c <= '\r')) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string_view> tunInterfaceFromFdinfo(std::string_view fdinfo) {
  while (!fdinfo.empty()) {
    const std::size_t end = fdinfo.find('\n');
    std::string_view line = fdinfo.substr(0, end);
    fdinfo = end == std::string_view::npos ? std::string_view{} : fdinfo.substr(end + 1);
    if (!line.starts_with(kIffTag)) continue;
    line.remove_prefix(kIffTag.size());
    while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
    if (!isValidInterfaceName(line)) return std::nullopt;
    return line;
  }
  return std::nullopt;
}

std::uint32_t tunnelUnitFromName(std::string_view name) {
  constexpr std::string_view kPrefix = "utun";
  if (!name.starts_with(kPrefix)) return 0;
  const std::string_view digits = name.substr(kPrefix.size());
  if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) return 0;
  std::uint64_t index = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    index = index * 10 + static_cast<std::uint64_t>(c - '0');
    if (index >= std::numeric_limits<std::uint32_t>::max()) return 0;
  }
  return static_cast<std::uint32_t>(index + 1);
}

}  // namespace bcn
