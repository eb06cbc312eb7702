// What the tray asks of the network and of the admin daemon, the way the
// command line asks it: the public addresses through a provider, and the
// tunnel owners. Kept apart from the tray's Qt code, since the command
// line's headers use words Qt reserves.
//
// Thread-safe functions; they block, so the tray calls them on worker
// threads.
#pragma once

#include <expected>
#include <stop_token>
#include <string>

#include "tools/beaconbar/public_ip_format.h"
#include "tools/beaconbar/tunnel_format.h"

namespace bcn::tray {

// NetCore's PublicIPService against the provider's URL ("echoA", "echoB",
// as --provider names them); an unknown provider fails with the command
// line's text. Ends soon after `stop` is requested.
cli::PublicAddressReport lookUpPublicAddresses(const std::string& provider, std::stop_token stop);

// Fails, with the command line's text, for a provider it does not know.
std::expected<void, std::string> checkProvider(const std::string& provider);

// Read directly as root, else asked of the daemon with a short time limit
// (the menu is open and waiting).
std::expected<cli::TunnelOwnerMap, std::string> queryTunnelOwners();

}  // namespace bcn::tray
