#include "daemon/load/process_usage.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace bcn::load {

std::optional<std::size_t> openDescriptors(pid_t pid) {
  std::error_code error;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  if (error) return std::nullopt;
  return count;
}

std::optional<std::size_t> parseResidentBytes(const std::string& status) {
  std::istringstream lines(status);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("VmRSS:", 0) != 0) continue;
    std::istringstream fields(line.substr(6));
    std::size_t kilobytes = 0;
    std::string unit;
    if (fields >> kilobytes >> unit && unit == "kB") return kilobytes * 1024;
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::size_t> residentBytes(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  if (!file) return std::nullopt;
  std::stringstream text;
  text << file.rdbuf();
  return parseResidentBytes(text.str());
}

std::optional<std::size_t> descriptorsSettledAt(pid_t pid, std::size_t target, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto count = openDescriptors(pid);
    if (!count || *count <= target || std::chrono::steady_clock::now() >= deadline) return count;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace bcn::load

namespace bcn::load {

bool connectionsGone(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  for (;;) {
    std::error_code error;
    std::size_t pidfds = 0;
    for (std::filesystem::directory_iterator it(fds, error), end; !error && it != end; it.increment(error)) {
      std::error_code ignored;
      if (std::filesystem::read_symlink(it->path(), ignored) == "anon_inode:[pidfd]") ++pidfds;
    }
    if (error) return false;
    if (pidfds == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace bcn::load
