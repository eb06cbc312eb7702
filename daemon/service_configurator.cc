#include "daemon/service_configurator.h"

#include "protocol/admin_constants.h"

namespace bcn {
namespace {

// Releases the preferences lock on every way out of setEnabled.
class LockRelease {
 public:
  explicit LockRelease(netprefs::NetworkPreferences& session) : session_(session) {}
  ~LockRelease() { session_.unlock(); }
  LockRelease(const LockRelease&) = delete;
  LockRelease& operator=(const LockRelease&) = delete;

 private:
  netprefs::NetworkPreferences& session_;
};

std::unexpected<ServiceConfigurator::Failure> failed(AdminError error, std::string reason) {
  return std::unexpected(ServiceConfigurator::Failure{error, std::move(reason)});
}

}  // namespace

std::expected<void, ServiceConfigurator::Failure> ServiceConfigurator::setEnabled(std::string_view serviceID,
                                                                                  bool enabled) {
  return setEnabled(serviceID, enabled, netprefs::PreferencesLocation::systemDefault());
}

std::expected<void, ServiceConfigurator::Failure> ServiceConfigurator::setEnabled(
    std::string_view serviceID, bool enabled, const netprefs::PreferencesLocation& location) {
  const auto session = netprefs::NetworkPreferences::create(AdminConstants::daemonIdentifier, location);
  if (!session) {
    return failed(AdminError::configurationFailed, location.file.string() + " could not be read");
  }
  if (!session->lock(true)) {
    return failed(AdminError::configurationFailed, location.lockFile.string() + " could not be locked");
  }
  const LockRelease release(*session);

  const auto service = session->copyService(serviceID);
  if (!service || isHidden(*session, serviceID)) return failed(AdminError::unknownService, "");
  const bool before = service->enabled;
  if (!session->setServiceEnabled(serviceID, enabled)) {
    return failed(AdminError::configurationFailed, "the service could not be changed");
  }
  if (auto committed = session->commitChanges(); !committed) {
    return failed(AdminError::configurationFailed, "the preferences were not saved: " + committed.error().description);
  }
  auto applied = session->applyChanges();
  if (applied) return {};
  // The file must not claim a state the links are not in: take the change
  // back. Only this service's device was to change, and it did not.
  std::string reason = applied.error().description;
  session->setServiceEnabled(serviceID, before);
  if (auto restored = session->commitChanges(); !restored) {
    reason += "; the saved preferences could not be restored either (" + restored.error().description +
              ") and now say what the links do not";
  } else {
    reason += "; the saved preferences were restored";
  }
  return failed(AdminError::configurationFailed, reason);
}

bool ServiceConfigurator::isHidden(const netprefs::NetworkPreferences& session, std::string_view serviceID) {
  return netprefs::isHiddenService(session, serviceID);
}

}  // namespace bcn
