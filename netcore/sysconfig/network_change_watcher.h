// NetworkChangeWatcher: tells its owner, through the owner's executor, which
// network-configuration keys changed. One instance is one subscription to
// "State:/Network/Interface" and the patterns "State:/Network/Interface/.*",
// "State:/Network/Global/IPv[46]", "State:/Network/Service/.*" and
// "Setup:/Network/Service/.*"; it lasts exactly as long as the instance.
//
// The handler only ever runs inside a task given to the executor, with the
// changed keys of one notification, one call per notification, never
// filtered or merged. Creation never fails: when the change sources cannot
// be opened the watcher is inert and never calls the handler.
//
// After the destructor returns the handler is not running and is never
// called again, also for tasks still queued on the executor; a handler
// running at that moment on another thread is waited for. The handler may
// destroy the watcher that called it. Not copyable or movable.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/export.h"
#include "platform/dynstore/store_notifier.h"
#include "platform/netprefs/network_preferences.h"

namespace bcn {

class NETCORE_EXPORT NetworkChangeWatcher {
 public:
  // Runs the given task, now or later, on a thread of its choosing (a
  // serial queue keeps notifications in order).
  using Executor = std::function<void(std::function<void()>)>;
  using Handler = std::function<void(const std::vector<std::string>& changedKeys)>;
  // Opens a subscription for the given keys, or null when it cannot.
  using Subscriber = std::function<std::unique_ptr<dynstore::StoreSubscription>(
      std::string_view clientName, dynstore::NotificationKeys keys, dynstore::ChangeCallback callback)>;

  static constexpr std::string_view kClientName = "Beaconbar";
  static dynstore::NotificationKeys notificationKeys();

  // Watches the machine's kernel state and its default preferences file.
  NetworkChangeWatcher(Executor executor, Handler handler);
  NetworkChangeWatcher(Executor executor, Handler handler, Subscriber subscriber);
  ~NetworkChangeWatcher();
  NetworkChangeWatcher(const NetworkChangeWatcher&) = delete;
  NetworkChangeWatcher& operator=(const NetworkChangeWatcher&) = delete;

  // False when the watcher is inert.
  bool subscribed() const { return store_ != nullptr; }

  // The live subscriber over the preferences at `location`.
  static Subscriber liveSubscriber(netprefs::PreferencesLocation location);

 private:
  struct Box;
  std::shared_ptr<Box> box_;
  std::unique_ptr<dynstore::StoreSubscription> store_;
};

}  // namespace bcn
