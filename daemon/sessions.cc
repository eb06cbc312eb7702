#include "daemon/sessions.h"

#include <string>
#include <vector>

#include "protocol/admin_constants.h"
#include "protocol/admin_keys.h"
#include "protocol/admin_selectors.h"

namespace bcn {
namespace {

std::atomic<SessionID> nextSessionIdentity{1};

std::optional<std::string> textArgument(const PlistDictionary& arguments, std::string_view name) {
  const PlistValue* value = arguments.find(name);
  if (value == nullptr || value->text() == nullptr) return std::nullopt;
  return *value->text();
}

std::vector<std::uint8_t> dataArgument(const PlistDictionary& arguments, std::string_view name) {
  const PlistValue* value = arguments.find(name);
  if (value == nullptr || value->data() == nullptr) return {};
  return *value->data();
}

void answer(const ipc::Reply& reply, const std::expected<void, PlatformError>& result) {
  if (result) {
    reply(PlistDictionary{});
  } else {
    reply.fail(result.error());
  }
}

void answerText(const ipc::Reply& reply, const std::expected<std::string, PlatformError>& result) {
  if (result) {
    reply(PlistDictionary{{"value", *result}});
  } else {
    reply.fail(result.error());
  }
}

PlistDictionary statusBase() {
  return PlistDictionary{{std::string(AdminStatusKey::version), daemonVersion()},
                         {std::string(AdminStatusKey::protocolVersion), AdminConstants::protocolVersion}};
}

PlistArray tunnelOwnerList(SharedTunnelScan& tunnels) {
  PlistArray list;
  for (const auto& [interface, owner] : tunnels.get()) {
    list.emplace_back(PlistDictionary{{std::string(TunnelOwnerKey::interface), interface},
                                      {std::string(TunnelOwnerKey::name), owner.name},
                                      {std::string(TunnelOwnerKey::pid), owner.pid},
                                      {std::string(TunnelOwnerKey::path), owner.path}});
  }
  return list;
}

}  // namespace

AppSession::AppSession(AdminDaemon& daemon, WorkScheduler& workers, SharedTunnelScan& tunnels, const ipc::Peer& peer)
    : daemon_(daemon),
      tunnels_(tunnels),
      queue_(workers, peer.accountUID),
      uid_(peer.credentials.uid),
      identity_(nextSessionIdentity++) {}

void AppSession::handleCall(const MethodSpec& method, const PlistDictionary& arguments, ipc::Reply reply) {
  // Nothing ahead of it in the queue, and nothing posted from here on can
  // be: the connection hands over its calls one at a time, on this thread.
  if (method.selector == AppSelector::status && queue_.idle()) {
    run(method.selector, arguments, reply);
    return;
  }
  queue_.post([self = shared_from_this(), selector = std::string(method.selector), arguments, reply] {
    // Nobody would hear the answer; end() may not have dropped it yet.
    if (reply.abandoned()) return;
    self->run(selector, arguments, reply);
  });
}

void AppSession::end() {
  queue_.cancel();
  // Queued behind the call that may be running, so a request it opens is
  // dropped too instead of outliving its session.
  queue_.post([self = shared_from_this()] { self->daemon_.sessionEnded(self->identity_); });
}

void AppSession::run(std::string_view selector, const PlistDictionary& arguments, const ipc::Reply& reply) {
  if (selector == AppSelector::status) {
    auto token = textArgument(arguments, "token");
    PlistDictionary status = statusBase();
    status.set(std::string(AdminStatusKey::paired), token ? daemon_.isPaired(*token, uid_) : false);
    reply(PlistDictionary{{"status", std::move(status)}});
  } else if (selector == AppSelector::beginPairing) {
    answerText(reply, daemon_.beginPairing(uid_, identity_));
  } else if (selector == AppSelector::awaitPairing) {
    daemon_.awaitPairing(textArgument(arguments, "requestID").value_or(""), identity_,
                         [reply](std::expected<std::string, PlatformError> token) { answerText(reply, token); });
  } else if (selector == AppSelector::setServiceEnabled) {
    const PlistValue* enabled = arguments.find("enabled");
    answer(reply, daemon_.setServiceEnabled(textArgument(arguments, "serviceID").value_or(""),
                                            enabled && enabled->boolean().value_or(false),
                                            textArgument(arguments, "token").value_or(""), uid_));
  } else if (selector == AppSelector::unpair) {
    answer(reply, daemon_.unpair(textArgument(arguments, "token").value_or(""), uid_));
  } else if (selector == AppSelector::tunnelOwners) {
    reply(PlistDictionary{{"items", tunnelOwnerList(tunnels_)}});
  }
}

ControlSession::ControlSession(AdminDaemon& daemon, WorkScheduler& workers, const ipc::Peer& peer)
    : daemon_(daemon), queue_(workers, peer.accountUID), uid_(peer.credentials.uid), process_(peer.identity) {}

void ControlSession::handleCall(const MethodSpec& method, const PlistDictionary& arguments, ipc::Reply reply) {
  queue_.post([self = shared_from_this(), selector = std::string(method.selector), arguments, reply] {
    if (reply.abandoned()) return;
    self->run(selector, arguments, reply);
  });
}

void ControlSession::end() { queue_.cancel(); }

void ControlSession::run(std::string_view selector, const PlistDictionary& arguments, const ipc::Reply& reply) {
  const auto unauthorized = std::unexpected(toPlatformError(AdminError::authorizationFailed));
  if (selector == ControlSelector::status) {
    reply(PlistDictionary{{"status", statusBase()}});
  } else if (selector == ControlSelector::pendingPairings) {
    reply(PlistDictionary{{"items", daemon_.pendingPairings(uid_)}});
  } else if (selector == ControlSelector::approvePairing) {
    if (!process_) return answer(reply, unauthorized);
    answer(reply, daemon_.approvePairing(textArgument(arguments, "requestID").value_or(""),
                                         dataArgument(arguments, "authorization"), uid_, *process_));
  } else if (selector == ControlSelector::denyPairing) {
    answer(reply, daemon_.denyPairing(textArgument(arguments, "requestID").value_or(""), uid_));
  } else if (selector == ControlSelector::unpairAll) {
    if (!process_) return answer(reply, unauthorized);
    answer(reply, daemon_.unpairAll(dataArgument(arguments, "authorization"), *process_, uid_));
  }
}

}  // namespace bcn
