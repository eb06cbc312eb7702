#include "netcore/shim/testing/fake_proc_tree.h"

#include <stdexcept>

namespace bcn::testing {

std::string tunFdinfo(std::string_view interface) {
  return "pos:\t0\nflags:\t0102002\nmnt_id:\t26\nino:\t1061\niff:\t" + std::string(interface) + "\n";
}

void FakeProcTree::addProcess(int pid, const std::string& exe) {
  const auto process = root() / std::to_string(pid);
  std::filesystem::create_directories(process / "fd");
  std::filesystem::create_directories(process / "fdinfo");
  if (!exe.empty()) std::filesystem::create_symlink(exe, process / "exe");
}

void FakeProcTree::addDescriptor(int pid, int fd, const std::string& target, const std::string& fdinfo) {
  const auto process = root() / std::to_string(pid);
  if (!std::filesystem::is_directory(process / "fd")) throw std::logic_error("addProcess first");
  std::filesystem::create_symlink(target, process / "fd" / std::to_string(fd));
  if (!fdinfo.empty()) writeText(process / "fdinfo" / std::to_string(fd), fdinfo);
}

void FakeProcTree::addTunnel(int pid, int fd, std::string_view interface) {
  addDescriptor(pid, fd, "/dev/net/tun", tunFdinfo(interface));
}

}  // namespace bcn::testing
