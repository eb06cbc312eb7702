// services and services watch: the system configuration's picture, and its
// change notifications as they arrive.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <mutex>

#include "netcore/sysconfig/network_change_watcher.h"
#include "netcore/sysconfig/system_configuration_reader.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/services_format.h"
#include "tools/beaconbar/signal_waiter.h"
#include "tools/beaconbar/terminal.h"

namespace bcn::cli {
namespace {

// The watcher's executor: notifications are queued by the watcher's thread
// and printed by the main thread, which also waits for Ctrl-C.
class ChangeQueue {
 public:
  struct Change {
    Date time;
    std::vector<std::string> keys;
  };

  NetworkChangeWatcher::Executor executor() {
    return [this](std::function<void()> task) { task(); };
  }
  NetworkChangeWatcher::Handler handler() {
    return [this](const std::vector<std::string>& keys) {
      std::lock_guard guard(mutex_);
      changes_.push_back({Date::now(), keys});
    };
  }
  std::deque<Change> take() {
    std::lock_guard guard(mutex_);
    return std::exchange(changes_, {});
  }

 private:
  std::mutex mutex_;
  std::deque<Change> changes_;
};

}  // namespace

int runServices(const ServicesOptions& options) {
  const NetworkMetadata metadata = SystemConfigurationReader::read();
  if (options.json) {
    printJson(servicesJson(metadata));
  } else {
    printText(formatServices(metadata));
  }
  return 0;
}

int runServicesWatch(const ServicesOptions& options) {
  // Ends through a write error when the reader of a pipe goes away.
  std::signal(SIGPIPE, SIG_IGN);
  SignalWaiter signals;
  ChangeQueue queue;
  NetworkChangeWatcher watcher(queue.executor(), queue.handler());
  if (!watcher.subscribed()) return fail("cannot watch the network configuration (netlink or inotify unavailable)");
  if (isTerminal(stderr) && !options.json) {
    std::fputs("Watching the network configuration; Ctrl-C stops.\n", stderr);
  }
  while (!signals.waitFor(std::chrono::milliseconds(100))) {
    for (const auto& change : queue.take()) {
      if (options.json) {
        printJsonLine(changedKeysJson(change.time, change.keys));
      } else {
        printText(formatChangedKeys(change.time, change.keys));
      }
    }
    std::fflush(stdout);
    if (std::ferror(stdout)) return 0;
  }
  return 0;
}

}  // namespace bcn::cli
