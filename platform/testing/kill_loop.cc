#include "platform/testing/kill_loop.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <thread>

namespace bcn::testing {

KillReport killWhileWriting(const std::function<void(int readyFd)>& writer, const std::function<AfterKill()>& inspect,
                            std::chrono::microseconds oneSave, std::chrono::seconds limit, int maxRounds,
                            unsigned seed) {
  KillReport report;
  std::mt19937 random(seed);
  // Grows after rounds that saved nothing, shrinks after rounds that did.
  double window = 3.0 * static_cast<double>(std::max<long long>(oneSave.count(), 50));
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (int round = 0; round < maxRounds && std::chrono::steady_clock::now() < deadline; ++round) {
    int ready[2];
    if (::pipe(ready) != 0) {
      report.failure = "pipe failed";
      return report;
    }
    const pid_t child = ::fork();
    if (child < 0) {
      report.failure = "fork failed";
      return report;
    }
    if (child == 0) {
      ::close(ready[0]);
      writer(ready[1]);
      ::_exit(5);  // writers never return
    }
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (static_cast<long long>(window) + 1)));
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    if (!started || !WIFSIGNALED(status)) {
      report.failure = "round " + std::to_string(round) + ": the writer stopped by itself (exit status " +
                       std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "): a save failed";
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
