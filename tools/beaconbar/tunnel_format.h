// Text and JSON for tunnel owners (`beaconbar tunnels` and the overview's
// section). The owners come as TunnelOwners::scan() returns them: keyed by
// interface name, in name order. Pure functions; thread-safe.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "netcore/sysconfig/tunnel_owner.h"

namespace bcn::cli {

using TunnelOwnerMap = std::map<std::string, TunnelOwner>;

// A table with the header INTERFACE PID PROGRAM PATH, or the single line
// "No tunnel interfaces are open." when there are none. `indent` prefixes
// every line.
std::string formatTunnelOwners(const TunnelOwnerMap& owners, const std::string& indent = "");

// [{"interface", "pid", "name", "path"}, ...] in interface-name order.
nlohmann::ordered_json tunnelOwnersJson(const TunnelOwnerMap& owners);

}  // namespace bcn::cli
