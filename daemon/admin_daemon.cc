#include "daemon/admin_daemon.h"

#include <algorithm>

#include "daemon/service_configurator.h"
#include "platform/main_bundle.h"
#include "protocol/admin_constants.h"

namespace bcn {

const std::string& daemonVersion() {
  static const std::string version = MainBundle::string("CFBundleShortVersionString").value_or("0");
  return version;
}

AdminDaemon::AdminDaemon(PairingStore store, AuthorizationServices& authorization, Log& log,
                         netprefs::PreferencesLocation preferences)
    : authorization_(authorization), log_(log), preferences_(std::move(preferences)), store_(std::move(store)) {
  std::lock_guard guard(lock_);
  publishPairings();
}

bool AdminDaemon::isPaired(std::string_view token, std::uint32_t uid) const {
  return PairingStore::pairs(*published_.load(), token, uid);
}

void AdminDaemon::publishPairings() {
  published_.store(std::make_shared<const std::vector<PairingStore::Pairing>>(store_.pairings()));
}

std::expected<void, PlatformError> AdminDaemon::unpair(std::string_view token, std::uint32_t uid) {
  std::expected<bool, PlatformError> removed;
  {
    std::lock_guard guard(lock_);
    removed = store_.unpair(token, uid);
    publishPairings();
  }
  if (!removed) return std::unexpected(removed.error());
  if (*removed) log_.info("uid " + std::to_string(uid) + " unpaired a client");
  return {};
}

std::expected<void, PlatformError> AdminDaemon::setServiceEnabled(std::string_view serviceID, bool enabled,
                                                                 std::string_view token, std::uint32_t uid) {
  if (!isPaired(token, uid)) return std::unexpected(toPlatformError(AdminError::notPaired));
  if (auto switched = ServiceConfigurator::setEnabled(serviceID, enabled, preferences_); !switched) {
    if (!switched.error().reason.empty()) {
      log_.info("uid " + std::to_string(uid) + " could not set service " + std::string(serviceID) +
                " enabled=" + (enabled ? "true" : "false") + ": " + switched.error().reason);
    }
    return std::unexpected(toPlatformError(switched.error().error));
  }
  log_.info("uid " + std::to_string(uid) + " set service " + std::string(serviceID) +
            " enabled=" + (enabled ? "true" : "false"));
  return {};
}

void AdminDaemon::logChatter(std::uint32_t uid, std::string message) {
  const auto decision = logLines_.take(uid);
  if (!decision.allowed) return;
  if (decision.refusedBefore != 0) {
    message += " (" + std::to_string(decision.refusedBefore) + " earlier lines of uid " + std::to_string(uid) +
               " suppressed)";
  }
  log_.info(message);
}

std::expected<void, AdminError> AdminDaemon::verifyPairRight(std::span<const std::uint8_t> authorization,
                                                             const ProcessIdentity& callerProcess, std::uint32_t uid) {
  const auto refused = std::unexpected(AdminError::authorizationFailed);
  if (authorization.size() != kAuthorizationExternalFormLength) return refused;
  AuthorizationExternalForm form;
  std::copy(authorization.begin(), authorization.end(), form.begin());
  AuthorizationRef reference;
  if (authorization_.createFromExternalForm(form, &reference) != AuthorizationStatus::success || !reference) {
    return refused;
  }
  // Process ids are public, so a form alone proves nothing about who sent
  // it: the authorized process must be the caller itself. Otherwise any
  // local user could replay a form naming an administrator's console.
  std::int32_t status = AuthorizationStatus::denied;
  // Each ask starts a polkit check process; a user may not have that done
  // at will, whether or not they hold the right.
  if (reference->subject() == callerProcess) {
    if (const auto pace = pairRightChecks_.take(uid); pace.allowed) {
      status = authorization_.copyRights(*reference, AdminConstants::pairRight, AuthorizationFlags::extendRights);
    } else {
      logChatter(uid, "pair-right checks of uid " + std::to_string(uid) + " refused: asked too often");
    }
  }
  authorization_.free(std::move(reference), AuthorizationFlags::defaults);
  if (status != AuthorizationStatus::success) return refused;
  return {};
}

std::expected<void, PlatformError> AdminDaemon::unpairAll(std::span<const std::uint8_t> authorization,
                                                          const ProcessIdentity& callerProcess,
                                                          std::uint32_t callerUID) {
  if (auto verified = verifyPairRight(authorization, callerProcess, callerUID); !verified) {
    return std::unexpected(toPlatformError(verified.error()));
  }
  {
    std::lock_guard guard(lock_);
    auto saved = store_.removeAll();
    publishPairings();
    if (!saved) return std::unexpected(saved.error());
  }
  log_.info("all pairings removed");
  return {};
}

}  // namespace bcn
