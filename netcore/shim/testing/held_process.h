// Child processes that hold descriptors for as long as a test or benchmark
// needs them: tun queues attached to interfaces, and bulk descriptors that
// give a process table realistic weight. Test and benchmark code only.
//
// Holders die with their creator (PR_SET_PDEATHSIG), so a crashed test
// leaves no interface behind; a tun interface that is not persistent
// disappears with its last queue. Not thread-safe; create and destroy a
// holder on one thread.
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>
#include <vector>

namespace bcn::testing {

// Opens /dev/net/tun and attaches the descriptor to a new tun interface
// `name` (IFF_TUN | IFF_NO_PI). The descriptor is inheritable, so a
// HeldProcess started afterwards keeps the queue. Needs CAP_NET_ADMIN.
std::expected<int, std::string> openTunnel(const std::string& name);

struct HoldOptions {
  // Copies of /dev/null the holder opens for itself.
  int extraDescriptors = 0;
  // The holder forks once more, so parent and child hold the same
  // descriptors.
  bool forkAgain = false;
  // When set, the holder runs this program (argv[0] is its path) instead
  // of idling; inherited descriptors stay open across the exec.
  std::vector<std::string> program;
};

class HeldProcess {
 public:
  // Starts a holder, which inherits every inheritable descriptor of the
  // caller, and waits until it (and its child, with forkAgain) is in place
  // and running `program` if one was given.
  static std::expected<HeldProcess, std::string> start(const HoldOptions& options = {});
  // Creates tun interface `name` and starts a holder for its queue; the
  // caller's own copy of the descriptor is closed again.
  static std::expected<HeldProcess, std::string> holdTunnel(const std::string& name,
                                                            const HoldOptions& options = {});

  HeldProcess(HeldProcess&& other) noexcept;
  HeldProcess& operator=(HeldProcess&&) = delete;
  HeldProcess(const HeldProcess&) = delete;
  ~HeldProcess();

  // The holding processes in the order they were created: the holder, then
  // its child with forkAgain.
  const std::vector<pid_t>& pids() const { return pids_; }

 private:
  explicit HeldProcess(std::vector<pid_t> pids) : pids_(std::move(pids)) {}
  std::vector<pid_t> pids_;
};

}  // namespace bcn::testing
