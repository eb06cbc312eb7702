#include "netcore/shim/testing/held_process.h"

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bcn::testing {
namespace {

std::string failure(const std::string& what) { return what + ": " + std::strerror(errno); }

// In the child: only async-signal-safe calls from here on.
[[noreturn]] void hold(const HoldOptions& options, char* const* argv, int readyFd) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  for (int i = 0; i < options.extraDescriptors; ++i) {
    if (::open("/dev/null", O_RDONLY) < 0) ::_exit(1);
  }
  if (options.forkAgain) {
    const pid_t child = ::fork();
    if (child < 0) ::_exit(1);
    if (child == 0) ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  }
  const pid_t self = ::getpid();
  if (::write(readyFd, &self, sizeof self) != sizeof self) ::_exit(1);
  if (argv != nullptr) {
    ::execv(argv[0], argv);  // the ready pipe closes when this succeeds
    const pid_t failed = -1;
    (void)!::write(readyFd, &failed, sizeof failed);
    ::_exit(127);
  }
  ::close(readyFd);
  for (;;) ::pause();
}

}  // namespace

std::expected<int, std::string> openTunnel(const std::string& name) {
  if (name.size() >= IFNAMSIZ) return std::unexpected("interface name too long: " + name);
  const int fd = ::open("/dev/net/tun", O_RDWR);
  if (fd < 0) return std::unexpected(failure("open /dev/net/tun"));
  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::memcpy(request.ifr_name, name.data(), name.size());
  if (::ioctl(fd, TUNSETIFF, &request) != 0) {
    const std::string message = failure("TUNSETIFF " + name);
    ::close(fd);
    return std::unexpected(message);
  }
  return fd;
}

std::expected<HeldProcess, std::string> HeldProcess::start(const HoldOptions& options) {
  std::vector<std::string> program = options.program;
  std::vector<char*> argv;
  for (std::string& argument : program) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return std::unexpected(failure("pipe"));
  const pid_t pid = ::fork();
  if (pid < 0) {
    const std::string message = failure("fork");
    ::close(ready[0]);
    ::close(ready[1]);
    return std::unexpected(message);
  }
  if (pid == 0) {
    ::close(ready[0]);
    hold(options, program.empty() ? nullptr : argv.data(), ready[1]);
  }
  ::close(ready[1]);

  // Every holder writes its pid and then closes its end (by exec, when it
  // runs a program), so end of file means all are in place; a failed exec
  // adds -1.
  std::vector<pid_t> reported;
  pid_t value = 0;
  for (;;) {
    const ssize_t n = ::read(ready[0], &value, sizeof value);
    if (n < 0 && errno == EINTR) continue;
    if (n != sizeof value) break;
    reported.push_back(value);
  }
  ::close(ready[0]);

  std::vector<pid_t> pids{pid};
  for (const pid_t other : reported) {
    if (other > 0 && other != pid) pids.push_back(other);
  }
  HeldProcess held(std::move(pids));  // kills what did start, on failure too
  const std::size_t expected = options.forkAgain ? 2 : 1;
  if (reported.size() != expected || held.pids_.size() != expected) {
    return std::unexpected("holder did not start (bad program, or out of descriptors?)");
  }
  return held;
}

std::expected<HeldProcess, std::string> HeldProcess::holdTunnel(const std::string& name,
                                                               const HoldOptions& options) {
  const auto fd = openTunnel(name);
  if (!fd) return std::unexpected(fd.error());
  auto held = start(options);
  ::close(*fd);
  return held;
}

HeldProcess::HeldProcess(HeldProcess&& other) noexcept : pids_(std::move(other.pids_)) { other.pids_.clear(); }

HeldProcess::~HeldProcess() {
  if (pids_.empty()) return;
  // The grandchild is reparented once its parent dies; it dies with it
  // (death signal) and is reaped by init.
  for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) {
    if (*it > 0) ::kill(*it, SIGKILL);
  }
  int status = 0;
  while (::waitpid(pids_.front(), &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace bcn::testing
