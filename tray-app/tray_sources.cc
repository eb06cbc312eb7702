#include "tray-app/tray_sources.h"

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "netcore/interfaces/interface_reader.h"
#include "netcore/sysconfig/system_configuration_reader.h"
#include "platform/files.h"
#include "platform/netprefs/network_preferences.h"
#include "tools/beaconbar/app_service.h"
#include "tools/beaconbar/history_file.h"
#include "tools/beaconbar/pin_resolution.h"
#include "tools/beaconbar/xdg_directory.h"
#include "tray-app/network_lookups.h"

namespace bcn::tray {

std::filesystem::path defaultPinsPath() {
  const auto base = cli::xdgDirectory(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), ".config");
  if (!base) return {};
  return *base / "beaconbar" / "pins.json";
}

std::expected<std::vector<InterfaceFingerprint>, std::string> readPinsFile(const std::filesystem::path& file) {
  if (file.empty()) return std::unexpected("cannot tell where the pins are kept: set XDG_CONFIG_HOME or HOME");
  auto bytes = files::readFile(file, cli::kMaxPinsFileBytes);
  if (!bytes) {
    if (bytes.error().domain == PlatformError::kPosixDomain && bytes.error().code == ENOENT) {
      return std::vector<InterfaceFingerprint>{};
    }
    return std::unexpected("cannot read the pins " + file.string() + ": " + bytes.error().description);
  }
  auto pins = cli::parsePins(*bytes);
  if (!pins) return std::unexpected(file.string() + ": " + pins.error());
  return std::move(*pins);
}

std::filesystem::path defaultHistoryPath() {
  auto path = cli::defaultHistoryPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
  return path ? *path : std::filesystem::path();
}

TraySources liveTraySources(const std::filesystem::path& pinsFile, const std::filesystem::path& historyFile) {
  auto reader = std::make_shared<InterfaceReader>();
  return {
      .interfaces = [reader] { return reader->snapshot(); },
      .fingerprints =
          [reader](const std::vector<InterfaceSnapshot>& snapshots) {
            const auto identities = reader->linkIdentities(snapshots);
            std::vector<InterfaceFingerprint> fingerprints;
            for (const InterfaceSnapshot& s : snapshots) {
              const auto identity = identities.find(s.name);
              fingerprints.push_back(cli::fingerprintOf(s, identity == identities.end() ? nullptr : &identity->second));
            }
            return fingerprints;
          },
      .configuration = [] { return SystemConfigurationReader::read(); },
      .pins = [pinsFile] { return readPinsFile(pinsFile); },
      .subscriber = NetworkChangeWatcher::liveSubscriber(netprefs::PreferencesLocation::systemDefault()),
      .now = [] { return Date::now(); },
      .historyFile = historyFile,
      .publicLookup = lookUpPublicAddresses,
      .tunnelOwners = queryTunnelOwners,
      .daemon = connectDaemon,
      .tokenFile = cli::tokenPath().value_or(std::filesystem::path()),
  };
}

}  // namespace bcn::tray
