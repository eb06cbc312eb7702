// interfaces, tunnels and pins resolve: one reading of the machine each.
#include <algorithm>

#include "netcore/interfaces/interface_reader.h"
#include "platform/files.h"
#include "tools/beaconbar/app_service.h"
#include "tools/beaconbar/cli_output.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/interface_json.h"
#include "tools/beaconbar/interface_text.h"
#include "tools/beaconbar/pin_resolution.h"
#include "tools/beaconbar/tunnel_format.h"

namespace bcn::cli {
namespace {

// The snapshots named in `names` in that order (all when empty), or the
// first name that is not there.
std::expected<std::vector<InterfaceSnapshot>, std::string> select(std::vector<InterfaceSnapshot> all,
                                                                  const std::vector<std::string>& names) {
  if (names.empty()) return all;
  std::vector<InterfaceSnapshot> chosen;
  for (const std::string& name : names) {
    auto found = std::find_if(all.begin(), all.end(), [&](const InterfaceSnapshot& s) { return s.name == name; });
    if (found == all.end()) return std::unexpected(name);
    chosen.push_back(*found);
  }
  return chosen;
}

}  // namespace

int runInterfaces(const InterfacesOptions& options) {
  InterfaceReader reader;
  auto snapshots = select(reader.snapshot(), options.names);
  if (!snapshots) return fail("no interface named " + snapshots.error());
  if (options.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const InterfaceSnapshot& s : *snapshots) list.push_back(interfaceJson(s));
    printJson({{"interfaces", std::move(list)}});
    return 0;
  }
  for (const InterfaceSnapshot& s : *snapshots) printText(formatInterfaceBlock(s));
  return 0;
}

int runTunnels(const TunnelsOptions& options) {
  auto owners = readTunnelOwners(kDefaultCallTimeout);
  if (!owners) return fail("cannot list tunnel owners: " + owners.error());
  if (options.json) {
    printJson({{"tunnels", tunnelOwnersJson(*owners)}});
  } else {
    printText(formatTunnelOwners(*owners));
  }
  return 0;
}

int runPinsResolve(const PinsResolveOptions& options) {
  auto bytes = files::readFile(options.file, kMaxPinsFileBytes);
  if (!bytes) return fail("cannot read the pins: " + bytes.error().description);
  auto pins = parsePins(*bytes);
  if (!pins) return fail(options.file + ": " + pins.error());
  InterfaceReader reader;
  const auto snapshots = reader.snapshot();
  const auto identities = reader.linkIdentities(snapshots);
  std::vector<InterfaceFingerprint> live;
  for (const InterfaceSnapshot& s : snapshots) {
    const auto identity = identities.find(s.name);
    live.push_back(fingerprintOf(s, identity == identities.end() ? nullptr : &identity->second));
  }
  const auto resolutions = resolvePins(*pins, live);
  if (options.json) {
    printJson(pinResolutionsJson(resolutions));
  } else {
    printText(formatPinResolutions(resolutions));
  }
  return 0;
}

}  // namespace bcn::cli
