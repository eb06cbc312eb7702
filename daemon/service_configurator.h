// ServiceConfigurator: switches one network service of the machine's network
// preferences on or off, on behalf of a paired app. Hidden services are
// treated as if they did not exist.
//
// Stateless. Each call opens its own preferences session under the daemon's
// identifier and waits for the machine-wide preferences lock, so concurrent
// calls (from any process) are serialised; the lock is released on every
// path once taken. Call it without holding any lock of the caller's: it may
// block for as long as another writer holds the preferences. Never logs: a
// failure carries the reason for the caller's log.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "platform/netprefs/network_preferences.h"
#include "protocol/admin_error.h"

namespace bcn {

class ServiceConfigurator {
 public:
  struct Failure {
    AdminError error;
    // Why, for an administrator: the file or kernel error text, and what
    // became of the saved preferences. Empty for unknownService.
    std::string reason;
  };

  ServiceConfigurator() = delete;

  // Sets the service's enabled state, commits and applies it; applying
  // touches only the service's device. Setting the state it already has is
  // no special case. Fails with unknownService for an identifier that names
  // no service (also the empty one) or a hidden service, and with
  // configurationFailed when the preferences cannot be opened or locked or
  // the change cannot be made, saved or applied. A change the kernel
  // refuses (no CAP_NET_ADMIN, say) is taken back out of the saved
  // preferences, so they keep describing the links; the reason says whether
  // that restore failed too.
  static std::expected<void, Failure> setEnabled(std::string_view serviceID, bool enabled);
  // The same on the preferences at `location` instead of the system's.
  static std::expected<void, Failure> setEnabled(std::string_view serviceID, bool enabled,
                                                 const netprefs::PreferencesLocation& location);

  // Whether the service's interface entity carries "HiddenConfiguration" = true.
  static bool isHidden(const netprefs::NetworkPreferences& session, std::string_view serviceID);
};

}  // namespace bcn
