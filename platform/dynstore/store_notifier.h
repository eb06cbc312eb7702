// Change notifications of the dynamic store: a subscription to a set of keys
// and patterns whose callback learns which of them changed.
//
// The live subscription listens to rtnetlink's link, address and route
// groups and watches the preferences file with inotify. After each burst
// of events settles (a link coming up sends several messages) it recomputes
// the key space and reports the selected keys whose value appeared,
// changed or vanished, in key order. Overflowing event queues only cost a
// recomputation, never a missed change.
//
// The callback runs on the subscription's own thread, one call at a time.
// Destroying the subscription stops it: once the destructor returns, the
// callback is not running and is never called again. The callback may
// destroy its own subscription.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/export.h"
#include "platform/dynstore/store_entries.h"
#include "platform/netprefs/network_preferences.h"

namespace bcn::dynstore {

using ChangeCallback = std::function<void(std::vector<std::string> changedKeys)>;

class NETCORE_EXPORT StoreSubscription {
 public:
  virtual ~StoreSubscription() = default;
};

struct NETCORE_EXPORT NotificationKeys {
  std::vector<std::string> keys;
  std::vector<std::string> patterns;
};

// Null when the rtnetlink event socket cannot be opened; without an inotify
// watch the subscription still reports kernel changes.
std::unique_ptr<StoreSubscription> subscribe(std::string_view clientName,
                                             const netprefs::PreferencesLocation& location,
                                             NotificationKeys keys, ChangeCallback callback);

// The keys whose entry differs between `before` and `after` (added, removed
// or changed), in key order.
std::vector<std::string> changedKeys(const StoreEntries& before, const StoreEntries& after);

}  // namespace bcn::dynstore
