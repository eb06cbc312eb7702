// A directory laid out like /proc, for exercising the tunnel scan against
// process tables a test can shape at will: processes that vanish, refuse
// inspection or hold more queues than any real machine. Test-only code;
// not thread-safe. The tree is removed with the object.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/testing/test_support.h"

namespace bcn::testing {

// What the kernel writes to fdinfo for a tun queue attached to `interface`.
std::string tunFdinfo(std::string_view interface);

class FakeProcTree {
 public:
  FakeProcTree() = default;

  const std::filesystem::path& root() const { return dir_.path(); }

  // Creates <pid>/fd and <pid>/fdinfo, and <pid>/exe linking to `exe`
  // unless `exe` is empty.
  void addProcess(int pid, const std::string& exe = "");
  // Adds descriptor `fd` to a process made with addProcess: a link to
  // `target` and, unless `fdinfo` is empty, its fdinfo file.
  void addDescriptor(int pid, int fd, const std::string& target, const std::string& fdinfo);
  // A tun queue attached to `interface`.
  void addTunnel(int pid, int fd, std::string_view interface);

 private:
  TempDir dir_;
};

}  // namespace bcn::testing
