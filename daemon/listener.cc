#include "daemon/listener.h"

#include "platform/ipc/service_socket.h"

namespace bcn {

Listener::Listener(std::string serviceName, std::string requirement, const ServiceProtocol& protocol,
                   MakeSession makeSession, Ended ended)
    : serviceName_(std::move(serviceName)),
      requirement_(std::move(requirement)),
      protocol_(protocol),
      makeSession_(std::move(makeSession)),
      ended_(std::move(ended)) {}

std::expected<void, PlatformError> Listener::start(ipc::Server& server,
                                                   std::shared_ptr<const CodeIdentityReader> identities) {
  auto socket = ipc::openServiceSocket(serviceName_);
  if (!socket) return std::unexpected(socket.error());
  ipc::Service service;
  service.protocol = &protocol_;
  service.requirement = ipc::ServiceRequirement{requirement_, std::move(identities)};
  service.makeSession = makeSession_;
  service.ended = ended_;
  return server.serve(*socket, std::move(service));
}

}  // namespace bcn
