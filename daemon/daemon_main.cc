// beaconbar-admind: the admin daemon. Runs as root, started by systemd on
// the first connection to either of its sockets (or by hand, binding them
// itself). No options, no configuration file: STATE_DIRECTORY,
// RUNTIME_DIRECTORY and CONFIGURATION_DIRECTORY (set by systemd) say where
// the pairing file, the sockets and the code-identity registry are.
//
// There is no orderly shutdown: SIGTERM or SIGINT ends the process at once.
// Every file it writes is replaced atomically, so that loses nothing but
// the open pairing requests, which are never kept.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "daemon/admin_daemon.h"
#include "daemon/listener.h"
#include "daemon/sessions.h"
#include "platform/authorization/polkit_authorization.h"
#include "platform/codesign/code_identity_registry.h"
#include "platform/log/log.h"
#include "protocol/admin_constants.h"
#include "protocol/admin_methods.h"

namespace {

// Descriptors kept back from connections: the pairing file's save, /proc
// reads, polkit's and the journal's sockets, and refusing a connection,
// which needs the descriptor the refused peer arrives on.
constexpr std::size_t kReservedDescriptors = 256;
// A connection holds its socket and the peer's pidfd, and briefly more
// while its peer is checked.
constexpr std::size_t kDescriptorsPerConnection = 3;
// Beyond this many at once the daemon is being attacked, not used.
constexpr std::size_t kMaxConnections = 8192;

std::size_t connectionCap() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 256;
  const std::size_t usable =
      limit.rlim_cur > kReservedDescriptors * 2 ? limit.rlim_cur - kReservedDescriptors : limit.rlim_cur / 2;
  return std::clamp<std::size_t>(usable / kDescriptorsPerConnection, 1, kMaxConnections);
}

// Every connection holds two descriptors (its socket and the peer's pidfd),
// so the customary soft limit of 1,024 would stop the daemon at about 500
// clients, held pairing waits included. The I/O runs on epoll, which has no
// use for a low limit; take what the hard limit allows.
void raiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

int main() {
  using namespace bcn;
  // Blocked before any thread starts, so that only sigwait below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  raiseDescriptorLimit();

  SystemLog log(std::string(AdminConstants::daemonIdentifier), "daemon");
  PolkitAuthorizationServices polkit;
  PairingStore pairings = PairingStore::load({.directory = PairingStore::defaultDirectory()});
  if (const auto& problem = pairings.loadProblem()) log.info(*problem);
  AdminDaemon daemon(std::move(pairings), polkit, log);
  const std::string appRequirement = AdminConstants::appRequirement(AdminConstants::teamID());
  const std::string adminRequirement = AdminConstants::adminAppRequirement(AdminConstants::teamID());

  WorkScheduler workers(kWorkerThreads, kWorkersPerUser);
  SharedTunnelScan tunnels;
  ipc::Server server(ipc::Server::defaultThreads(), kConnectionsPerUser, connectionCap());
  auto identities = std::make_shared<const CodeIdentityReader>(defaultRegistryPath());

  Listener appListener(
      AdminConstants::appServiceName(), appRequirement, adminAppProtocol(),
      [&](const ipc::Peer& peer) { return std::make_shared<AppSession>(daemon, workers, tunnels, peer); },
      [](const std::shared_ptr<ipc::Session>& session) {
        if (auto app = std::dynamic_pointer_cast<AppSession>(session)) app->end();
      });
  Listener controlListener(
      AdminConstants::controlServiceName(), adminRequirement, adminControlProtocol(),
      [&](const ipc::Peer& peer) { return std::make_shared<ControlSession>(daemon, workers, peer); },
      [](const std::shared_ptr<ipc::Session>& session) {
        if (auto control = std::dynamic_pointer_cast<ControlSession>(session)) control->end();
      });
  for (Listener* listener : {&appListener, &controlListener}) {
    if (auto started = listener->start(server, identities); !started) {
      std::fprintf(stderr, "beaconbar-admind: cannot serve %s: %s\n", listener->serviceName().c_str(),
                   started.error().description.c_str());
      return 1;
    }
  }
  log.info("admin daemon " + daemonVersion() + " listening");

  int signal = 0;
  sigwait(&stopSignals, &signal);
  _exit(0);
}
