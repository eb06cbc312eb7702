#include "platform/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include "platform/pidfd.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace bcn {
namespace {

struct Pipe {
  UniqueFd read, write;
};

std::expected<Pipe, PlatformError> makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(PlatformError::fromErrno(errno, "pipe"));
  return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Appends what is readable; returns false at end of stream or on error.
bool drain(int fd, std::string& into, std::size_t limit) {
  char buffer[4096];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) return false;
  std::size_t room = limit > into.size() ? limit - into.size() : 0;
  into.append(buffer, std::min(room, static_cast<std::size_t>(n)));
  return true;
}

void recordStatus(int status, ProcessResult& result) {
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
}

}  // namespace

std::expected<ProcessResult, PlatformError> runProcess(const std::vector<std::string>& argv,
                                                       const ProcessOptions& options) {
  auto out = makePipe();
  if (!out) return std::unexpected(out.error());
  auto err = makePipe();
  if (!err) return std::unexpected(err.error());

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out->write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err->write.get(), STDERR_FILENO);
  // Descriptors we inherited without close-on-exec stay ours as well.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  // A fresh signal mask and default dispositions: the caller may block or
  // ignore signals the tool relies on.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  int spawned = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return std::unexpected(PlatformError::fromErrno(spawned, "spawn " + argv[0]));
  out->write.reset();
  err->write.reset();

  // A pidfd lets one poll wait for output and exit alike; without one we
  // fall back to short polls.
  UniqueFd exitFd(openPidfd(pid));

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  bool outOpen = true, errOpen = true, reaped = false;
  while (outOpen || errOpen || !reaped) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      break;
    }
    if (!outOpen && !errOpen) {
      int status = 0;
      pid_t waited = ::waitpid(pid, &status, WNOHANG);
      if (waited == pid) {
        recordStatus(status, result);
        reaped = true;
        break;
      }
    }
    std::array<pollfd, 3> fds{{{outOpen ? out->read.get() : -1, POLLIN, 0},
                               {errOpen ? err->read.get() : -1, POLLIN, 0},
                               {exitFd.get(), POLLIN, 0}}};
    int timeout = static_cast<int>(std::min<long long>(left.count(), exitFd.get() < 0 ? 20 : left.count()));
    int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) break;
    if (fds[0].revents) outOpen = drain(out->read.get(), result.standardOutput, options.maxOutputBytes);
    if (fds[1].revents) errOpen = drain(err->read.get(), result.standardError, options.maxOutputBytes);
    if (fds[2].revents) {
      // Exited, but a grandchild may hold the pipes open: stop waiting for
      // them once the child itself is gone and nothing more is readable.
      if (fds[0].revents == 0 && fds[1].revents == 0) outOpen = errOpen = false;
    }
  }
  if (!reaped) {
    if (result.timedOut) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    recordStatus(status, result);
  }
  return result;
}

}  // namespace bcn
