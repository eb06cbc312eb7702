#include "platform/testing/kill_loop.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <thread>

#include "platform/pidfd.h"

namespace bcn::testing {
namespace {

bool readAll(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writers are forked by a helper process forked once at the start, while
// the test process is still small: forking and tearing down a copy of a
// test process whose sanitizer quarantine has grown to hundreds of
// megabytes costs more than the save being interrupted. The helper also
// does the killing, so the signal always goes to its own unreaped child
// and never to a recycled pid. Commands: 's' forks a writer and reports its
// pid; 'k' kills the running writer. The helper reports each writer's wait
// status once it has ended, killed or by itself, and stops when the
// command pipe closes.
class WriterFactory {
 public:
  explicit WriterFactory(const std::function<void(int readyFd)>& writer) {
    int command[2], report[2], ready[2];
    if (::pipe(command) != 0 || ::pipe(report) != 0 || ::pipe(ready) != 0) return;
    helper_ = ::fork();
    if (helper_ == 0) {
      ::close(command[1]);
      ::close(report[0]);
      ::close(ready[0]);
      serve(writer, command[0], report[1], ready[1]);
    }
    ::close(command[0]);
    ::close(report[1]);
    ::close(ready[1]);
    command_ = command[1];
    report_ = report[0];
    ready_ = ready[0];
  }
  ~WriterFactory() {
    ::close(command_);
    ::close(report_);
    ::close(ready_);
    if (helper_ > 0) {
      while (::waitpid(helper_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
  WriterFactory(const WriterFactory&) = delete;
  WriterFactory& operator=(const WriterFactory&) = delete;

  bool valid() const { return helper_ > 0; }

  // Starts a writer and waits until it is ready. False when it ended
  // before that; its wait status is then in `status`.
  bool start(int& status) {
    pid_t pid = -1;
    if (!writeAll(command_, "s", 1) || !readAll(report_, &pid, sizeof pid) || pid < 0) return false;
    pollfd fds[2] = {{ready_, POLLIN, 0}, {report_, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    char byte = 0;
    if ((fds[0].revents & POLLIN) != 0 && readAll(ready_, &byte, 1)) return true;
    if (!readAll(report_, &status, sizeof status)) status = -1;
    return false;
  }

  // Kills the running writer; its wait status.
  int kill() {
    int status = -1;
    if (!writeAll(command_, "k", 1) || !readAll(report_, &status, sizeof status)) return -1;
    return status;
  }

 private:
  [[noreturn]] static void serve(const std::function<void(int readyFd)>& writer, int command, int report, int ready) {
    char order = 0;
    while (readAll(command, &order, 1)) {
      if (order != 's') continue;  // a kill for a writer that already ended
      const pid_t child = ::fork();
      if (child == 0) {
        ::close(command);
        ::close(report);
        writer(ready);
        ::_exit(5);  // writers never return
      }
      if (!writeAll(report, &child, sizeof child)) ::_exit(6);
      if (child < 0) continue;
      // Until a kill arrives or the writer ends by itself.
      const int pidfd = openPidfd(child);
      pollfd fds[2] = {{command, POLLIN, 0}, {pidfd, POLLIN, 0}};
      while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
      }
      if ((fds[0].revents & (POLLIN | POLLHUP)) != 0 && readAll(command, &order, 1)) ::kill(child, SIGKILL);
      if (pidfd >= 0) ::close(pidfd);
      int status = 0;
      while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      if (!writeAll(report, &status, sizeof status)) ::_exit(6);
    }
    ::_exit(0);
  }

  pid_t helper_ = -1;
  int command_ = -1;
  int report_ = -1;
  int ready_ = -1;
};

std::string exitText(int status) {
  return WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status)) : "no exit status";
}

}  // namespace

KillReport killWhileWriting(const std::function<void(int readyFd)>& writer, const std::function<AfterKill()>& inspect,
                            std::chrono::microseconds oneSave, std::chrono::seconds limit, int maxRounds,
                            unsigned seed) {
  KillReport report;
  WriterFactory writers(writer);
  if (!writers.valid()) {
    report.failure = "could not start the writer factory";
    return report;
  }
  std::mt19937 random(seed);
  // Grows after rounds that saved nothing, shrinks after rounds that did.
  double window = 3.0 * static_cast<double>(std::max<long long>(oneSave.count(), 50));
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (int round = 0; round < maxRounds && std::chrono::steady_clock::now() < deadline; ++round) {
    int status = -1;
    if (!writers.start(status)) {
      report.failure =
          "round " + std::to_string(round) + ": the writer ended before it was ready (" + exitText(status) + ")";
      return report;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (static_cast<long long>(window) + 1)));
    status = writers.kill();
    if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
      report.failure =
          "round " + std::to_string(round) + ": the writer stopped by itself (" + exitText(status) + "): a save failed";
      return report;
    }
    ++report.kills;
    switch (inspect()) {
      case AfterKill::kBroken:
        report.failure = "round " + std::to_string(round) + ": the file is damaged";
        return report;
      case AfterKill::kSaved:
        ++report.roundsThatSaved;
        window = std::max(20.0, window * 0.9);
        break;
      case AfterKill::kNoSave:
        window *= 1.1;
        break;
    }
  }
  return report;
}

std::size_t strandedFiles(const std::filesystem::path& directory, std::string_view fileName) {
  std::size_t stranded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    stranded += entry.path().filename() != fileName;
  }
  return stranded;
}

}  // namespace bcn::testing
