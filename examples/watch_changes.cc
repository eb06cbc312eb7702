// Prints the network-configuration keys that change, one notification per
// line, until interrupted (Ctrl-C or SIGTERM).
#include <csignal>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <netcore/sysconfig/network_change_watcher.h>

int main() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  // Blocked before the watcher starts its threads, so they inherit the
  // mask and the signals wait for sigwait below.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  std::mutex print;
  // Runs each notification right away on the watcher's thread; a program
  // with an event loop would post it there instead.
  auto executor = [](std::function<void()> task) { task(); };
  auto handler = [&print](const std::vector<std::string>& changedKeys) {
    std::lock_guard lock(print);
    for (std::size_t i = 0; i < changedKeys.size(); ++i)
      std::printf("%s%s", i ? " " : "changed: ", changedKeys[i].c_str());
    std::printf("\n");
    std::fflush(stdout);
  };

  bcn::NetworkChangeWatcher watcher(executor, handler);
  if (!watcher.subscribed()) {
    std::fprintf(stderr, "cannot watch the network configuration\n");
    return 1;
  }
  std::fprintf(stderr, "watching; interrupt to stop\n");
  int signal = 0;
  sigwait(&stop, &signal);
  return 0;
}
