#include "tools/beaconbar/app_service.h"

#include <unistd.h>

#include <cstdlib>

#include "netcore/sysconfig/tunnel_owners.h"
#include "platform/ipc/service_socket.h"
#include "protocol/admin_constants.h"
#include "tools/beaconbar/daemon_errors.h"
#include "tools/beaconbar/token_file.h"

namespace bcn::cli {

std::expected<AdminAppClient, std::string> connectAppService() {
  const auto socket = ipc::servicePath(AdminConstants::appServiceName());
  auto client = AdminAppClient::connect(socket);
  if (!client) return std::unexpected(describeConnectError(client.error(), socket));
  return std::move(*client);
}

std::expected<std::filesystem::path, std::string> tokenPath() {
  return defaultTokenPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

std::expected<TunnelOwnerMap, std::string> readTunnelOwners(std::chrono::milliseconds timeout) {
  if (geteuid() == 0) return TunnelOwners::scan();
  auto client = connectAppService();
  if (!client) return std::unexpected("not root, and " + client.error());
  auto entries = client->tunnelOwners(timeout);
  if (!entries) return std::unexpected(describeDaemonError(entries.error(), DaemonCall::tunnelOwners));
  TunnelOwnerMap owners;
  for (const TunnelOwnerEntry& e : *entries) owners.insert_or_assign(e.interface, TunnelOwner{e.pid, e.name, e.path});
  return owners;
}

}  // namespace bcn::cli
