#include "client/admin_control_client.h"

#include "platform/ipc/service_socket.h"
#include "protocol/admin_constants.h"

namespace bcn {
namespace {

std::expected<AdminStatus, PlatformError> controlStatus(const IpcResult& r) { return decodeStatus(r, false); }

PlistDictionary approveArguments(const std::string& requestID, const std::vector<std::uint8_t>& authorization) {
  return {{"requestID", requestID}, {"authorization", PlistData(authorization)}};
}

PlistDictionary authorizationArgument(const std::vector<std::uint8_t>& authorization) {
  return {{"authorization", PlistData(authorization)}};
}

}  // namespace

std::expected<AdminControlClient, PlatformError> AdminControlClient::connect(
    std::optional<std::filesystem::path> socketPath, ipc::Client::Options options) {
  auto client = ipc::Client::connect(socketPath.value_or(ipc::servicePath(AdminConstants::controlServiceName())),
                                     std::move(options));
  if (!client) return std::unexpected(client.error());
  return AdminControlClient(std::make_unique<ServiceClient>(std::move(*client), adminControlProtocol()));
}

void AdminControlClient::status(Completion<AdminStatus> done) {
  service_->call<AdminStatus>(ControlSelector::status, {}, controlStatus, std::move(done));
}
std::expected<AdminStatus, PlatformError> AdminControlClient::status(std::chrono::milliseconds timeout) {
  return service_->callSync<AdminStatus>(ControlSelector::status, {}, controlStatus, timeout);
}

void AdminControlClient::pendingPairings(Completion<std::vector<PendingPairing>> done) {
  service_->call<std::vector<PendingPairing>>(ControlSelector::pendingPairings, {}, decodePendingPairings,
                                              std::move(done));
}
std::expected<std::vector<PendingPairing>, PlatformError> AdminControlClient::pendingPairings(
    std::chrono::milliseconds timeout) {
  return service_->callSync<std::vector<PendingPairing>>(ControlSelector::pendingPairings, {}, decodePendingPairings,
                                                         timeout);
}

void AdminControlClient::approvePairing(const std::string& requestID, const std::vector<std::uint8_t>& authorization,
                                        Completion<void> done) {
  service_->call<void>(ControlSelector::approvePairing, approveArguments(requestID, authorization), decodeNothing,
                       std::move(done));
}
std::expected<void, PlatformError> AdminControlClient::approvePairing(const std::string& requestID,
                                                                      const std::vector<std::uint8_t>& authorization,
                                                                      std::chrono::milliseconds timeout) {
  return service_->callSync<void>(ControlSelector::approvePairing, approveArguments(requestID, authorization),
                                  decodeNothing, timeout);
}

void AdminControlClient::denyPairing(const std::string& requestID, Completion<void> done) {
  service_->call<void>(ControlSelector::denyPairing, {{"requestID", requestID}}, decodeNothing, std::move(done));
}
std::expected<void, PlatformError> AdminControlClient::denyPairing(const std::string& requestID,
                                                                   std::chrono::milliseconds timeout) {
  return service_->callSync<void>(ControlSelector::denyPairing, {{"requestID", requestID}}, decodeNothing, timeout);
}

void AdminControlClient::unpairAll(const std::vector<std::uint8_t>& authorization, Completion<void> done) {
  service_->call<void>(ControlSelector::unpairAll, authorizationArgument(authorization), decodeNothing,
                       std::move(done));
}
std::expected<void, PlatformError> AdminControlClient::unpairAll(const std::vector<std::uint8_t>& authorization,
                                                                 std::chrono::milliseconds timeout) {
  return service_->callSync<void>(ControlSelector::unpairAll, authorizationArgument(authorization), decodeNothing,
                                  timeout);
}

}  // namespace bcn
