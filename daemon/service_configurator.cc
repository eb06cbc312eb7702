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

}  // namespace

std::expected<void, AdminError> ServiceConfigurator::setEnabled(std::string_view serviceID, bool enabled) {
  return setEnabled(serviceID, enabled, netprefs::PreferencesLocation::systemDefault());
}

std::expected<void, AdminError> ServiceConfigurator::setEnabled(std::string_view serviceID, bool enabled,
                                                                const netprefs::PreferencesLocation& location) {
  const auto session = netprefs::NetworkPreferences::create(AdminConstants::daemonIdentifier, location);
  if (!session) return std::unexpected(AdminError::configurationFailed);
  if (!session->lock(true)) return std::unexpected(AdminError::configurationFailed);
  const LockRelease release(*session);

  if (!session->copyService(serviceID)) return std::unexpected(AdminError::unknownService);
  if (isHidden(*session, serviceID)) return std::unexpected(AdminError::unknownService);
  if (!session->setServiceEnabled(serviceID, enabled)) return std::unexpected(AdminError::configurationFailed);
  if (!session->commitChanges()) return std::unexpected(AdminError::configurationFailed);
  if (!session->applyChanges()) return std::unexpected(AdminError::configurationFailed);
  return {};
}

bool ServiceConfigurator::isHidden(const netprefs::NetworkPreferences& session, std::string_view serviceID) {
  return netprefs::isHiddenService(session, serviceID);
}

}  // namespace bcn
