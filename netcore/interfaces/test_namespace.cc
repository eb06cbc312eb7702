#include "netcore/interfaces/test_namespace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace bcn::testing {
namespace {

std::atomic<int> counter{0};

}  // namespace

std::string commandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  std::size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  pclose(pipe);
  return out;
}

std::string uniqueInterfaceName(const std::string& tag) { return "b4" + tag + std::to_string(getpid()); }

TestNamespace::TestNamespace(const std::string& tag)
    : name_("bcn4-" + std::to_string(getpid()) + "-" + tag + "-" + std::to_string(counter++)) {
  created_ = std::system(("ip netns add " + name_ + " 2>/dev/null").c_str()) == 0;
}

TestNamespace::~TestNamespace() {
  if (created_) std::system(("ip netns del " + name_ + " 2>/dev/null").c_str());
}

bool TestNamespace::ip(const std::string& arguments) const {
  return std::system(("ip -n " + name_ + " " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

std::string TestNamespace::ipOutput(const std::string& arguments) const {
  return commandOutput("ip -n " + name_ + " " + arguments + " 2>/dev/null");
}

}  // namespace bcn::testing
