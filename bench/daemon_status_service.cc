#include "bench/daemon_status_service.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "daemon/admin_daemon.h"
#include "daemon/listener.h"
#include "daemon/session_queue.h"
#include "daemon/sessions.h"
#include "daemon/shared_tunnel_scan.h"
#include "platform/authorization/polkit_authorization.h"
#include "platform/codesign/code_identity_reader.h"
#include "platform/codesign/code_identity_registry.h"
#include "platform/ipc/server.h"
#include "platform/ipc/service_socket.h"
#include "platform/log/log.h"
#include "protocol/admin_constants.h"
#include "protocol/admin_methods.h"

namespace bcn::bench {
namespace {

constexpr const char* kTeam = "QBBENCH123";

// Records this program as the app in a registry at `path`.
bool recordSelf(const std::filesystem::path& path) {
  const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
  const int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
  auto digest = fd >= 0 ? sha256OfDescriptor(fd) : std::nullopt;
  if (fd >= 0) ::close(fd);
  if (!digest) return false;
  CodeIdentityRegistry registry;
  registry.record({self.string(), *digest, {std::string(AdminConstants::appBundleID), kTeam, CertificateKind::developerID}});
  return saveRegistry(path, registry).has_value();
}

}  // namespace

struct DaemonStatusService::Parts {
  RecordingLog log;
  PolkitAuthorizationServices authorization;  // never consulted by status
  std::unique_ptr<AdminDaemon> daemon;
  std::unique_ptr<WorkScheduler> workers;
  SharedTunnelScan tunnels;
  std::unique_ptr<ipc::Server> server;
};

std::unique_ptr<DaemonStatusService> DaemonStatusService::start(const std::filesystem::path& directory) {
  std::unique_ptr<DaemonStatusService> service(new DaemonStatusService);
  service->parts_ = std::make_unique<Parts>();
  Parts& parts = *service->parts_;
  PairingStore store({.directory = directory / "state", .ownerUID = ::geteuid(), .ownerGID = ::getegid()});
  auto token = store.pair(::geteuid());
  if (!token) return std::fprintf(stderr, "pairing store: %s\n", token.error().description.c_str()), nullptr;
  service->token_ = *token;
  parts.daemon = std::make_unique<AdminDaemon>(std::move(store), parts.authorization, parts.log,
                                               netprefs::PreferencesLocation::inDirectory(directory / "netprefs"));
  parts.workers = std::make_unique<WorkScheduler>(kWorkerThreads, kWorkersPerUser);
  parts.server = std::make_unique<ipc::Server>(ipc::Server::defaultThreads());

  ipc::Service app;
  app.protocol = &adminAppProtocol();
  app.makeSession = [&parts](const ipc::Peer& peer) {
    return std::make_shared<AppSession>(*parts.daemon, *parts.workers, parts.tunnels, peer);
  };
  app.ended = [](const std::shared_ptr<ipc::Session>& session) {
    if (auto ended = std::dynamic_pointer_cast<AppSession>(session)) ended->end();
  };
  if (::geteuid() == 0) {
    const auto registryPath = directory / "etc" / CodeIdentityRegistry::kFileName;
    if (!recordSelf(registryPath)) return std::fprintf(stderr, "cannot record this program\n"), nullptr;
    app.requirement = ipc::ServiceRequirement{AdminConstants::appRequirement(kTeam),
                                              std::make_shared<CodeIdentityReader>(registryPath)};
    service->requirementChecked_ = true;
  }
  service->socketPath_ = directory / "app";
  auto fd = ipc::bindServiceSocket(service->socketPath_);
  if (!fd) return std::fprintf(stderr, "bind: %s\n", fd.error().description.c_str()), nullptr;
  if (auto served = parts.server->serve(*fd, std::move(app)); !served) {
    return std::fprintf(stderr, "serve: %s\n", served.error().description.c_str()), nullptr;
  }
  return service;
}

DaemonStatusService::~DaemonStatusService() {
  // Connections first: their sessions post to the workers.
  if (parts_ && parts_->server) parts_->server->stop();
}

}  // namespace bcn::bench
