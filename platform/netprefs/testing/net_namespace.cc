#include "platform/netprefs/testing/net_namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>

#include "platform/subprocess.h"

namespace bcn::testing {

ScopedNetNamespace::ScopedNetNamespace() {
  previous_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (previous_ < 0) return;
  if (::unshare(CLONE_NEWNET) != 0) return;
  ok_ = runIp({"link", "set", "lo", "up"});
}

ScopedNetNamespace::~ScopedNetNamespace() {
  if (previous_ < 0) return;
  ::setns(previous_, CLONE_NEWNET);
  ::close(previous_);
}

bool runIp(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"ip"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto result = runProcess(argv);
  return result && result->exited() && result->exitCode == 0;
}

std::string uniqueLinkName(std::string_view prefix) {
  static std::atomic<unsigned> counter{0};
  std::string name = std::string(prefix) + std::to_string(::getpid() % 1000000) + "x" +
                     std::to_string(counter++ % 100);
  return name.substr(0, 13);
}

bool addVethPair(const std::string& name) {
  return runIp({"link", "add", name, "type", "veth", "peer", "name", name + "p"});
}

}  // namespace bcn::testing
