#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/dynstore/dynamic_store.h"
#include "platform/dynstore/key_pattern.h"
#include "platform/dynstore/store_notifier.h"

namespace bcn::dynstore {
namespace {

using Clock = std::chrono::steady_clock;

// Events of one change arrive within a few milliseconds; waiting until the
// sources stay quiet this long turns a burst into one recomputation, and
// the cap keeps a constantly busy system from starving the callback.
constexpr int kQuietMillis = 30;
constexpr auto kMaxSettle = std::chrono::milliseconds(300);

constexpr std::uint32_t kDirectoryEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                           IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;

int openEventSocket() {
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return -1;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE |
                      RTMGRP_IPV6_ROUTE;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Everything one subscription's thread uses; shared with the owner so a
// thread left running by a callback that destroyed its subscription still
// has valid state until it exits.
struct Watch {
  Watch(std::string_view clientName, netprefs::PreferencesLocation location, NotificationKeys keys,
        ChangeCallback callback)
      : clientName(clientName),
        location(std::move(location)),
        selection(std::move(keys.keys), keys.patterns),
        callback(std::move(callback)) {}
  ~Watch() {
    for (int fd : {netlinkFd, inotifyFd, stopFd}) {
      if (fd >= 0) ::close(fd);
    }
  }

  const std::string clientName;
  const netprefs::PreferencesLocation location;
  const KeySelection selection;
  const ChangeCallback callback;
  int netlinkFd = -1;
  int inotifyFd = -1;
  int stopFd = -1;
  int directoryWatch = -1;
  int ancestorWatch = -1;
  std::atomic<bool> stopping{false};
};

// Watches the preferences directory, or while it does not exist, the
// closest existing ancestor so its creation is noticed.
void armPreferencesWatch(Watch& watch) {
  if (watch.inotifyFd < 0 || watch.directoryWatch >= 0) return;
  const std::filesystem::path directory = watch.location.file.parent_path();
  watch.directoryWatch = ::inotify_add_watch(watch.inotifyFd, directory.c_str(), kDirectoryEvents);
  if (watch.directoryWatch >= 0) {
    if (watch.ancestorWatch >= 0) ::inotify_rm_watch(watch.inotifyFd, watch.ancestorWatch);
    watch.ancestorWatch = -1;
    return;
  }
  for (std::filesystem::path p = directory.parent_path(); !p.empty(); p = p.parent_path()) {
    const int wd = ::inotify_add_watch(watch.inotifyFd, p.c_str(), IN_CREATE | IN_MOVED_TO);
    if (wd >= 0) {
      watch.ancestorWatch = wd;
      return;
    }
    if (p == p.root_path()) return;
  }
}

void drainNetlink(int fd) {
  alignas(nlmsghdr) char buffer[16384];
  while (true) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    // ENOBUFS: the kernel dropped events; the recomputation covers them.
    if (n < 0 && (errno == EINTR || errno == ENOBUFS)) continue;
    if (n <= 0) return;
  }
}

void drainInotify(Watch& watch) {
  alignas(inotify_event) char buffer[8192];
  while (true) {
    const ssize_t n = ::read(watch.inotifyFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t offset = 0; offset < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      if (event->wd == watch.directoryWatch && (event->mask & IN_IGNORED) != 0) watch.directoryWatch = -1;
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  armPreferencesWatch(watch);
}

// Waits up to `timeoutMillis` (-1: forever) and drains what arrived. False
// once the subscription is stopping.
bool waitAndDrain(Watch& watch, int timeoutMillis, bool& anyEvent) {
  pollfd fds[3] = {{watch.stopFd, POLLIN, 0}, {watch.netlinkFd, POLLIN, 0}, {watch.inotifyFd, POLLIN, 0}};
  const nfds_t count = watch.inotifyFd >= 0 ? 3 : 2;
  int ready = ::poll(fds, count, timeoutMillis);
  while (ready < 0 && errno == EINTR) ready = ::poll(fds, count, timeoutMillis);
  if (watch.stopping.load() || (fds[0].revents & POLLIN) != 0) return false;
  anyEvent = ready > 0;
  if (fds[1].revents != 0) drainNetlink(watch.netlinkFd);
  if (count == 3 && fds[2].revents != 0) drainInotify(watch);
  return true;
}

void run(const std::shared_ptr<Watch>& watch, StoreEntries current) {
  while (true) {
    bool anyEvent = false;
    if (!waitAndDrain(*watch, -1, anyEvent)) return;
    if (!anyEvent) continue;
    const Clock::time_point deadline = Clock::now() + kMaxSettle;
    while (anyEvent && Clock::now() < deadline) {
      if (!waitAndDrain(*watch, kQuietMillis, anyEvent)) return;
    }
    std::optional<StoreEntries> next = readStoreEntries(watch->clientName, watch->location);
    if (!next) continue;
    std::vector<std::string> changed;
    for (std::string& key : changedKeys(current, *next)) {
      if (watch->selection.contains(key)) changed.push_back(std::move(key));
    }
    current = std::move(*next);
    if (changed.empty()) continue;
    if (watch->stopping.load()) return;
    watch->callback(std::move(changed));
  }
}

class LiveSubscription final : public StoreSubscription {
 public:
  explicit LiveSubscription(std::shared_ptr<Watch> watch) : watch_(std::move(watch)) {
    StoreEntries initial = readStoreEntries(watch_->clientName, watch_->location).value_or(StoreEntries{});
    thread_ = std::thread([watch = watch_, initial = std::move(initial)]() mutable {
      run(watch, std::move(initial));
    });
  }

  ~LiveSubscription() override {
    watch_->stopping.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(watch_->stopFd, &one, sizeof one);
    // Destroyed from its own callback: the thread ends by itself as soon as
    // the callback returns and holds the state it needs.
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }

 private:
  std::shared_ptr<Watch> watch_;
  std::thread thread_;
};

}  // namespace

std::vector<std::string> changedKeys(const StoreEntries& before, const StoreEntries& after) {
  std::vector<std::string> changed;
  auto b = before.begin();
  auto a = after.begin();
  while (b != before.end() || a != after.end()) {
    if (a == after.end() || (b != before.end() && b->first < a->first)) {
      changed.push_back((b++)->first);
    } else if (b == before.end() || a->first < b->first) {
      changed.push_back((a++)->first);
    } else {
      if (!(a->second == b->second)) changed.push_back(a->first);
      ++a;
      ++b;
    }
  }
  return changed;
}

std::unique_ptr<StoreSubscription> subscribe(std::string_view clientName,
                                             const netprefs::PreferencesLocation& location,
                                             NotificationKeys keys, ChangeCallback callback) {
  auto watch = std::make_shared<Watch>(clientName, location, std::move(keys), std::move(callback));
  watch->netlinkFd = openEventSocket();
  watch->stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (watch->netlinkFd < 0 || watch->stopFd < 0) return nullptr;
  watch->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  armPreferencesWatch(*watch);
  return std::make_unique<LiveSubscription>(std::move(watch));
}

}  // namespace bcn::dynstore
