#include "netcore/sysconfig/network_change_watcher.h"

#include <mutex>

namespace bcn {

// The handler and whether it may still run. Queued tasks share the box, so
// it outlives the watcher until the last of them has run (and done nothing).
// The mutex is recursive so a handler can destroy its own watcher.
struct NetworkChangeWatcher::Box {
  Box(Executor executor, Handler handler) : executor(std::move(executor)), handler(std::move(handler)) {}

  void deliver(const std::vector<std::string>& keys) {
    std::lock_guard guard(mutex);
    if (alive) handler(keys);
  }

  void retire() {
    std::lock_guard guard(mutex);
    alive = false;
  }

  const Executor executor;
  const Handler handler;
  std::recursive_mutex mutex;
  bool alive = true;  // guarded by mutex
};

dynstore::NotificationKeys NetworkChangeWatcher::notificationKeys() {
  return {{"State:/Network/Interface"},
          {"State:/Network/Interface/.*", "State:/Network/Global/IPv[46]", "State:/Network/Service/.*",
           "Setup:/Network/Service/.*"}};
}

NetworkChangeWatcher::Subscriber NetworkChangeWatcher::liveSubscriber(netprefs::PreferencesLocation location) {
  return [location = std::move(location)](std::string_view clientName, dynstore::NotificationKeys keys,
                                          dynstore::ChangeCallback callback) {
    return dynstore::subscribe(clientName, location, std::move(keys), std::move(callback));
  };
}

NetworkChangeWatcher::NetworkChangeWatcher(Executor executor, Handler handler)
    : NetworkChangeWatcher(std::move(executor), std::move(handler),
                           liveSubscriber(netprefs::PreferencesLocation::systemDefault())) {}

NetworkChangeWatcher::NetworkChangeWatcher(Executor executor, Handler handler, Subscriber subscriber)
    : box_(std::make_shared<Box>(std::move(executor), std::move(handler))) {
  if (!subscriber || !box_->executor) return;
  std::weak_ptr<Box> weak = box_;
  store_ = subscriber(kClientName, notificationKeys(), [weak](std::vector<std::string> keys) {
    const std::shared_ptr<Box> box = weak.lock();
    if (!box) return;
    box->executor([box, keys = std::move(keys)] { box->deliver(keys); });
  });
}

NetworkChangeWatcher::~NetworkChangeWatcher() {
  // Stop the source first so nothing new is queued, then retire the handler
  // so nothing already queued reaches it.
  store_.reset();
  box_->retire();
}

}  // namespace bcn
