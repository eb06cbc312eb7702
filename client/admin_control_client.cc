#include "client/admin_control_client.h"

#include "platform/ipc/service_socket.h"
#include "protocol/admin_constants.h"

namespace bcn {
namespace {

constexpr std::string_view kStatus = ControlSelector::status;
constexpr std::string_view kPending = ControlSelector::pendingPairings;
constexpr std::string_view kApprove = ControlSelector::approvePairing;
constexpr std::string_view kDeny = ControlSelector::denyPairing;
constexpr std::string_view kUnpairAll = ControlSelector::unpairAll;

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
  service_->call<AdminStatus>(kStatus, {}, controlStatus, std::move(done));
}
std::expected<AdminStatus, PlatformError> AdminControlClient::status(std::chrono::milliseconds timeout) {
  return service_->callSync<AdminStatus>(kStatus, {}, controlStatus, timeout);
}

void AdminControlClient::pendingPairings(Completion<std::vector<PendingPairing>> done) {
  service_->call<std::vector<PendingPairing>>(kPending, {}, decodePendingPairings, std::move(done));
}
std::expected<std::vector<PendingPairing>, PlatformError> AdminControlClient::pendingPairings(
    std::chrono::milliseconds timeout) {
  return service_->callSync<std::vector<PendingPairing>>(kPending, {}, decodePendingPairings, timeout);
}

void AdminControlClient::approvePairing(const std::string& requestID, const std::vector<std::uint8_t>& authorization,
                                        Completion<void> done) {
  service_->call<void>(kApprove, approveArguments(requestID, authorization), decodeNothing, std::move(done));
}
std::expected<void, PlatformError> AdminControlClient::approvePairing(const std::string& requestID,
                                                                      const std::vector<std::uint8_t>& authorization,
                                                                      std::chrono::milliseconds timeout) {
  return service_->callSync<void>(kApprove, approveArguments(requestID, authorization), decodeNothing, timeout);
}

void AdminControlClient::denyPairing(const std::string& requestID, Completion<void> done) {
  service_->call<void>(kDeny, {{"requestID", requestID}}, decodeNothing, std::move(done));
}
std::expected<void, PlatformError> AdminControlClient::denyPairing(const std::string& requestID,
                                                                   std::chrono::milliseconds timeout) {
  return service_->callSync<void>(kDeny, {{"requestID", requestID}}, decodeNothing, timeout);
}

void AdminControlClient::unpairAll(const std::vector<std::uint8_t>& authorization, Completion<void> done) {
  service_->call<void>(kUnpairAll, authorizationArgument(authorization), decodeNothing, std::move(done));
}
std::expected<void, PlatformError> AdminControlClient::unpairAll(const std::vector<std::uint8_t>& authorization,
                                                                 std::chrono::milliseconds timeout) {
  return service_->callSync<void>(kUnpairAll, authorizationArgument(authorization), decodeNothing, timeout);
}

}  // namespace bcn
