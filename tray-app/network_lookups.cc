#include "tray-app/network_lookups.h"

#include <chrono>

#include "netcore/publicip/public_ip_service.h"
#include "tools/beaconbar/app_service.h"
#include "tools/beaconbar/public_lookup.h"

namespace bcn::tray {

cli::PublicAddressReport lookUpPublicAddresses(const std::string& provider, std::stop_token stop) {
  auto target = cli::lookupTarget(provider, std::nullopt);
  if (!target) {
    PublicIPResult failed;
    failed.error = target.error();
    return {provider, "", failed};
  }
  return {target->source, target->url, PublicIPService::lookup(target->url, std::nullopt, std::move(stop))};
}

std::expected<void, std::string> checkProvider(const std::string& provider) {
  if (auto target = cli::lookupTarget(provider, std::nullopt); !target) return std::unexpected(target.error());
  return {};
}

std::expected<cli::TunnelOwnerMap, std::string> queryTunnelOwners() {
  return cli::readTunnelOwners(std::chrono::seconds(3));
}

}  // namespace bcn::tray
