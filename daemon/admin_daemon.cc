#include "daemon/admin_daemon.h"

#include "platform/main_bundle.h"

namespace bcn {

const std::string& daemonVersion() {
  static const std::string version = MainBundle::string("CFBundleShortVersionString").value_or("0");
  return version;
}

AdminDaemon::AdminDaemon(PairingStore store) : store_(std::move(store)) {}

bool AdminDaemon::isPaired(std::string_view token, std::uint32_t uid) {
  std::lock_guard guard(lock_);
  return store_.isPaired(token, uid);
}

std::expected<void, PlatformError> AdminDaemon::unpair(std::string_view token, std::uint32_t uid) {
  std::lock_guard guard(lock_);
  return store_.unpair(token, uid);
}

}  // namespace bcn
