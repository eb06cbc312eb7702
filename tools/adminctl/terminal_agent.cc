#include "tools/adminctl/terminal_agent.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/authorization/process_identity.h"

namespace bcn::cli {
namespace {

using namespace std::chrono;

// The descriptor number the agent is told to close once registered.
constexpr int kNotifyFd = 3;

// `program` as execv wants it: looked up in PATH now, since the child
// must not allocate between fork and exec.
std::string resolve(const std::string& program) {
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= directories.size();) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::string candidate = directories.substr(start, end - start) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// Reaps `pid` if it has exited within `wait`; its exit status then.
std::optional<int> exitedWithin(pid_t pid, milliseconds wait) {
  const auto deadline = steady_clock::now() + wait;
  do {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(milliseconds(10));
  } while (steady_clock::now() < deadline);
  return std::nullopt;
}

void stop(pid_t pid) {
  ::kill(pid, SIGTERM);
  if (!exitedWithin(pid, seconds(2))) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

}  // namespace

bool TerminalAgent::terminalAvailable() {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::expected<TerminalAgent, std::string> TerminalAgent::start(pid_t subject, milliseconds limit,
                                                               const std::string& program) {
  const auto identity = ProcessIdentity::of(subject);
  if (!identity) return std::unexpected("process " + std::to_string(subject) + " is not running");
  const std::string path = resolve(program);
  if (path.empty()) return std::unexpected(program + " was not found (it comes with polkitd)");
  const std::string process = std::to_string(identity->pid) + "," + std::to_string(identity->startTime);
  const std::string notify = std::to_string(kNotifyFd);
  std::vector<char*> argv{const_cast<char*>(path.c_str()),
                          const_cast<char*>("--process"),
                          const_cast<char*>(process.c_str()),
                          const_cast<char*>("--fallback"),
                          const_cast<char*>("--notify-fd"),
                          const_cast<char*>(notify.c_str()),
                          nullptr};
  int notifyPipe[2];
  if (::pipe2(notifyPipe, O_CLOEXEC) != 0) return std::unexpected(std::string("pipe: ") + std::strerror(errno));
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    if (notifyPipe[1] == kNotifyFd) {
      ::fcntl(kNotifyFd, F_SETFD, 0);
    } else {
      ::dup2(notifyPipe[1], kNotifyFd);
    }
    // It talks to the user on the terminal itself; its diagnostics (such
    // as "an agent already exists") are of no use here.
    if (devNull >= 0) {
      ::dup2(devNull, STDOUT_FILENO);
      ::dup2(devNull, STDERR_FILENO);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  const int forkError = errno;
  ::close(notifyPipe[1]);
  if (devNull >= 0) ::close(devNull);
  if (pid < 0) {
    ::close(notifyPipe[0]);
    return std::unexpected(std::string("fork: ") + std::strerror(forkError));
  }

  // The pipe reaches end-of-file when the agent has registered and closed
  // its end, or when it exited.
  pollfd waiting{notifyPipe[0], POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&waiting, 1, static_cast<int>(limit.count()));
  } while (ready < 0 && errno == EINTR);
  ::close(notifyPipe[0]);
  if (ready <= 0) {
    stop(pid);
    return std::unexpected(program + " did not register within " + std::to_string(limit.count()) + " ms");
  }
  // An agent that failed closes the pipe on its way out; give its exit a
  // moment to become visible.
  if (auto status = exitedWithin(pid, milliseconds(100))) {
    const int code = WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
    return std::unexpected(program + " could not register (exit status " + std::to_string(code) + ")");
  }
  return TerminalAgent(pid);
}

TerminalAgent::~TerminalAgent() {
  if (pid_ > 0) stop(pid_);
}

}  // namespace bcn::cli
