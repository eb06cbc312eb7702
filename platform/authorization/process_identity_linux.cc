#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

#include "platform/authorization/process_identity.h"
#include "platform/files.h"

namespace bcn {
namespace {

// /proc texts are small; a larger one is not what we expect to read.
constexpr std::size_t kMaxProcFile = 64 * 1024;

template <typename T>
std::optional<T> parseDecimal(std::string_view text) {
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<std::string> readProc(std::int32_t pid, const char* file) {
  auto bytes = files::readFile("/proc/" + std::to_string(pid) + "/" + file, kMaxProcFile);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

}  // namespace

std::optional<std::uint64_t> parseStatStartTime(std::string_view stat) {
  auto close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = stat.substr(close + 1);
  // After the name come field 3 (state) onwards; field 22 is the 20th.
  int field = 2;
  std::size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && rest[i] == ' ') ++i;
    if (i == rest.size()) break;
    std::size_t end = rest.find_first_of(" \n", i);
    if (end == std::string_view::npos) end = rest.size();
    if (++field == 22) return parseDecimal<std::uint64_t>(rest.substr(i, end - i));
    i = end;
    if (i < rest.size() && rest[i] == '\n') break;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> parseStatusRealUID(std::string_view status) {
  std::size_t at = 0;
  while (at < status.size()) {
    std::size_t end = status.find('\n', at);
    if (end == std::string_view::npos) end = status.size();
    std::string_view line = status.substr(at, end - at);
    if (line.starts_with("Uid:")) {
      line.remove_prefix(4);
      std::size_t first = line.find_first_not_of(" \t");
      if (first == std::string_view::npos) return std::nullopt;
      line.remove_prefix(first);
      return parseDecimal<std::uint32_t>(line.substr(0, line.find_first_of(" \t")));
    }
    at = end + 1;
  }
  return std::nullopt;
}

std::optional<ProcessIdentity> ProcessIdentity::of(std::int32_t pid) {
  if (pid <= 0) return std::nullopt;
  int pidfd = openPidfd(pid);
  // No pidfd only because the kernel predates them is fine; any other
  // failure means the process is already gone.
  if (pidfd < 0 && errno != ENOSYS) return std::nullopt;
  auto stat = readProc(pid, "stat");
  auto status = readProc(pid, "status");
  // Still running after both reads: the pid named this process throughout.
  bool same = pidfd < 0 || !pidfdExited(pidfd);
  if (pidfd >= 0) ::close(pidfd);
  if (!stat || !status || !same) return std::nullopt;
  auto start = parseStatStartTime(*stat);
  auto uid = parseStatusRealUID(*status);
  if (!start || !uid) return std::nullopt;
  return ProcessIdentity{pid, *start, *uid};
}

std::optional<ProcessIdentity> ProcessIdentity::ofSelf() { return of(static_cast<std::int32_t>(::getpid())); }

}  // namespace bcn

std::size_t std::hash<bcn::ProcessIdentity>::operator()(const bcn::ProcessIdentity& p) const noexcept {
  std::size_t h = std::hash<std::int64_t>()(p.pid);
  h = h * 31 + std::hash<std::uint64_t>()(p.startTime);
  return h * 31 + std::hash<std::uint32_t>()(p.uid);
}
