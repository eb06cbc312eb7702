// bcn-e2e-client: a scriptable client of both daemon services for the
// end-to-end tests. The tests install copies of it under the app's and the
// console's identities. Prints one "key=value" line per result; a failure
// prints "error=<code> <description>" and exits 1.
//
//   status [TOKEN]            app status
//   pair                      begin, then wait: "id=…" then "token=…"
//   await ID                  wait on a request this connection did not open
//   service ID on|off TOKEN   switch a network service
//   unpair TOKEN
//   tunnels                   "tunnels=N" then one "tunnel=IF PID" per owner
//   control-status
//   pending                   one "id=…" per request
//   approve ID                authorize through polkit, then approve
//   deny ID
//   unpair-all                authorize through polkit, then revoke all
#include <cstdio>
#include <string>
#include <vector>

#include "client/admin_app_client.h"
#include "client/admin_control_client.h"
#include "daemon/e2e/console_authorization.h"
#include "protocol/admin_constants.h"

namespace {

using namespace bcn;
using namespace std::chrono_literals;

int fail(const PlatformError& error) {
  std::printf("error=%lld %s\n", static_cast<long long>(error.code), error.description.c_str());
  return 1;
}

template <typename T>
int report(const std::expected<T, PlatformError>& result, const char* okLine = "ok") {
  if (!result) return fail(result.error());
  std::printf("%s\n", okLine);
  return 0;
}

int app(const std::vector<std::string>& args) {
  auto client = AdminAppClient::connect();
  if (!client) return fail(client.error());
  const std::string& command = args[0];
  if (command == "status") {
    auto status = client->status(args.size() > 1 ? std::optional(args[1]) : std::nullopt);
    if (!status) return fail(status.error());
    std::printf("paired=%d version=%s protocol=%lld\n", status->paired.value_or(false) ? 1 : 0, status->version.c_str(),
                static_cast<long long>(status->protocolVersion));
    return 0;
  }
  if (command == "pair") {
    auto id = client->beginPairing();
    if (!id) return fail(id.error());
    std::printf("id=%s\n", id->c_str());
    std::fflush(stdout);
    auto token = client->awaitPairing(*id, 120s);
    if (!token) return fail(token.error());
    std::printf("token=%s\n", token->c_str());
    return 0;
  }
  if (command == "await" && args.size() == 2) return report(client->awaitPairing(args[1], 10s));
  if (command == "service" && args.size() == 4) {
    return report(client->setServiceEnabled(args[1], args[2] == "on", args[3]));
  }
  if (command == "unpair" && args.size() == 2) return report(client->unpair(args[1]));
  if (command == "tunnels") {
    auto owners = client->tunnelOwners();
    if (!owners) return fail(owners.error());
    std::printf("tunnels=%zu\n", owners->size());
    for (const auto& owner : *owners) std::printf("tunnel=%s %d\n", owner.interface.c_str(), owner.pid);
    return 0;
  }
  std::fprintf(stderr, "unknown app command\n");
  return 2;
}

int control(const std::vector<std::string>& args) {
  auto client = AdminControlClient::connect();
  if (!client) return fail(client.error());
  const std::string& command = args[0];
  if (command == "control-status") {
    auto status = client->status();
    if (!status) return fail(status.error());
    std::printf("version=%s protocol=%lld\n", status->version.c_str(), static_cast<long long>(status->protocolVersion));
    return 0;
  }
  if (command == "pending") {
    auto pending = client->pendingPairings();
    if (!pending) return fail(pending.error());
    for (const auto& request : *pending) std::printf("id=%s\n", request.id.c_str());
    return 0;
  }
  if (command == "approve" && args.size() == 2) {
    auto form = testing::authorizeConsole();
    if (!form) return fail(form.error());
    return report(client->approvePairing(args[1], *form));
  }
  if (command == "deny" && args.size() == 2) return report(client->denyPairing(args[1]));
  if (command == "unpair-all") {
    auto form = testing::authorizeConsole();
    if (!form) return fail(form.error());
    return report(client->unpairAll(*form));
  }
  std::fprintf(stderr, "unknown control command\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return 2;
  static const std::vector<std::string> controlCommands{"control-status", "pending", "approve", "deny", "unpair-all"};
  for (const auto& c : controlCommands) {
    if (args[0] == c) return control(args);
  }
  return app(args);
}
