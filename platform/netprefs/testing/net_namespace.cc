#include "platform/netprefs/testing/net_namespace.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

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

bool dropNetAdminCapability() {
  // First the bounding set (that needs CAP_SETPCAP, still held), so
  // programs run from here on do not get it back either.
  if (::prctl(PR_CAPBSET_DROP, CAP_NET_ADMIN, 0, 0, 0) != 0) return false;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  const std::uint32_t bit = 1u << (CAP_NET_ADMIN % 32);
  auto& word = data[CAP_NET_ADMIN / 32];
  word.effective &= ~bit;
  word.permitted &= ~bit;
  word.inheritable &= ~bit;
  return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace bcn::testing
