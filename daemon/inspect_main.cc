// beaconbar-admin-inspect: prints what the admin daemon would serve on this
// machine — its identity, service names, code requirements and the state of
// its pairing file — without changing anything. Read-only; safe to run
// while the daemon runs.

#include <cstdio>
#include <map>
#include <string>

#include "daemon/admin_daemon.h"
#include "daemon/pairing_store.h"
#include "platform/files.h"
#include "protocol/admin_protocol.h"

namespace {

void printMethods(const bcn::ServiceProtocol& protocol, const std::string& service) {
  std::printf("\n%s on %s\n", std::string(protocol.name).c_str(), service.c_str());
  for (const bcn::MethodSpec& method : protocol.methods) {
    std::printf("  %s\n", std::string(method.selector).c_str());
  }
}

}  // namespace

int main() {
  using namespace bcn;
  std::printf("daemon            %s %s\n", std::string(AdminConstants::daemonIdentifier).c_str(),
              daemonVersion().c_str());
  std::printf("protocol version  %lld\n", static_cast<long long>(AdminConstants::protocolVersion));
  std::printf("team identifier   %s\n", AdminConstants::teamID().c_str());
  std::printf("pair right        %s\n", std::string(AdminConstants::pairRight).c_str());
  std::printf("app requirement   %s\n",
              AdminConstants::appRequirement(AdminConstants::teamID()).c_str());
  std::printf("admin requirement %s\n",
              AdminConstants::adminAppRequirement(AdminConstants::teamID()).c_str());

  PairingStore::Options options{.directory = PairingStore::defaultDirectory()};
  const std::filesystem::path file = options.directory / PairingStore::kFileName;
  std::printf("\npairing file      %s\n", file.c_str());
  auto bytes = files::readFile(file, PairingStore::kMaxFileBytes);
  if (!bytes) {
    std::printf("  not readable (%s): the daemon starts with no pairings\n",
                bytes.error().description.c_str());
  } else if (auto pairings = PairingStore::decode(*bytes)) {
    std::map<std::uint32_t, int> perUser;
    for (const auto& pairing : *pairings) ++perUser[pairing.uid];
    std::printf("  %zu pairing(s)\n", pairings->size());
    for (const auto& [uid, count] : perUser) std::printf("  uid %u: %d\n", uid, count);
  } else {
    std::printf("  malformed: the daemon starts with no pairings and replaces it on the next change\n");
  }

  printMethods(adminAppProtocol(), AdminConstants::appServiceName());
  printMethods(adminControlProtocol(), AdminConstants::controlServiceName());
  return 0;
}
