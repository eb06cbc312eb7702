// Listener: one of the daemon's two services — its socket, the code
// requirement every peer must meet, the method table it serves, how a
// session is made for a new connection and what happens when it ends.
//
// start() opens the service's socket (handed over by systemd socket
// activation, or bound in the runtime directory) and serves it on the given
// server; from then on the service accepts connections. Peers that fail the
// requirement are disconnected before any of their calls runs.
//
// Not thread-safe; used only during start-up.
#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <memory>
#include <string>

#include "platform/codesign/code_identity_reader.h"
#include "platform/error.h"
#include "platform/ipc/server.h"

namespace bcn {

// How many connections one user may hold open to the daemon at once, both
// services together. A menu-bar app and a console need one each; the cap
// keeps a single local user from taking every descriptor the daemon has.
inline constexpr std::size_t kConnectionsPerUser = 32;

// Calls that may block (polkit, the preferences lock, /proc walks) run on
// this many workers, so they never hold up the IPC threads. One user's
// calls take at most a quarter of them at once, whatever they queue.
inline constexpr std::size_t kWorkerThreads = 8;
inline constexpr std::size_t kWorkersPerUser = 2;

class Listener {
 public:
  using MakeSession = std::function<std::shared_ptr<ipc::Session>(const ipc::Peer&)>;
  using Ended = std::function<void(const std::shared_ptr<ipc::Session>&)>;

  Listener(std::string serviceName, std::string requirement, const ServiceProtocol& protocol, MakeSession makeSession,
           Ended ended);

  std::expected<void, PlatformError> start(ipc::Server& server, std::shared_ptr<const CodeIdentityReader> identities);

  const std::string& serviceName() const { return serviceName_; }

 private:
  std::string serviceName_;
  std::string requirement_;
  const ServiceProtocol& protocol_;
  MakeSession makeSession_;
  Ended ended_;
};

}  // namespace bcn
