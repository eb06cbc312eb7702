#include "client/admin_app_client.h"

#include "platform/ipc/service_socket.h"
#include "protocol/admin_constants.h"
#include "protocol/admin_selectors.h"

namespace bcn {
namespace {

std::expected<AdminStatus, PlatformError> appStatus(const IpcResult& r) { return decodeStatus(r, true); }

PlistDictionary tokenArgument(const std::optional<std::string>& token) {
  PlistDictionary arguments;
  if (token) arguments.set("token", *token);
  return arguments;
}

PlistDictionary setServiceArguments(const std::string& serviceID, bool enabled, const std::string& token) {
  return {{"serviceID", serviceID}, {"enabled", enabled}, {"token", token}};
}

}  // namespace

std::expected<AdminAppClient, PlatformError> AdminAppClient::connect(std::optional<std::filesystem::path> socketPath,
                                                                     ipc::Client::Options options) {
  auto client =
      ipc::Client::connect(socketPath.value_or(ipc::servicePath(AdminConstants::appServiceName())), std::move(options));
  if (!client) return std::unexpected(client.error());
  return AdminAppClient(std::make_unique<ServiceClient>(std::move(*client), adminAppProtocol()));
}

void AdminAppClient::status(std::optional<std::string> token, Completion<AdminStatus> done) {
  service_->call<AdminStatus>(AppSelector::status, tokenArgument(token), appStatus, std::move(done));
}
std::expected<AdminStatus, PlatformError> AdminAppClient::status(std::optional<std::string> token,
                                                                 std::chrono::milliseconds timeout) {
  return service_->callSync<AdminStatus>(AppSelector::status, tokenArgument(token), appStatus, timeout);
}

void AdminAppClient::beginPairing(Completion<std::string> done) {
  service_->call<std::string>(AppSelector::beginPairing, {}, decodeText, std::move(done));
}
std::expected<std::string, PlatformError> AdminAppClient::beginPairing(std::chrono::milliseconds timeout) {
  return service_->callSync<std::string>(AppSelector::beginPairing, {}, decodeText, timeout);
}

void AdminAppClient::awaitPairing(const std::string& requestID, Completion<std::string> done) {
  service_->call<std::string>(AppSelector::awaitPairing, {{"requestID", requestID}}, decodeText, std::move(done));
}
std::expected<std::string, PlatformError> AdminAppClient::awaitPairing(const std::string& requestID,
                                                                       std::chrono::milliseconds timeout) {
  return service_->callSync<std::string>(AppSelector::awaitPairing, {{"requestID", requestID}}, decodeText, timeout);
}

void AdminAppClient::setServiceEnabled(const std::string& serviceID, bool enabled, const std::string& token,
                                       Completion<void> done) {
  service_->call<void>(AppSelector::setServiceEnabled, setServiceArguments(serviceID, enabled, token), decodeNothing,
                       std::move(done));
}
std::expected<void, PlatformError> AdminAppClient::setServiceEnabled(const std::string& serviceID, bool enabled,
                                                                     const std::string& token,
                                                                     std::chrono::milliseconds timeout) {
  return service_->callSync<void>(AppSelector::setServiceEnabled, setServiceArguments(serviceID, enabled, token),
                                  decodeNothing, timeout);
}

void AdminAppClient::unpair(const std::string& token, Completion<void> done) {
  service_->call<void>(AppSelector::unpair, {{"token", token}}, decodeNothing, std::move(done));
}
std::expected<void, PlatformError> AdminAppClient::unpair(const std::string& token, std::chrono::milliseconds timeout) {
  return service_->callSync<void>(AppSelector::unpair, {{"token", token}}, decodeNothing, timeout);
}

void AdminAppClient::tunnelOwners(Completion<std::vector<TunnelOwnerEntry>> done) {
  service_->call<std::vector<TunnelOwnerEntry>>(AppSelector::tunnelOwners, {}, decodeTunnelOwners, std::move(done));
}
std::expected<std::vector<TunnelOwnerEntry>, PlatformError> AdminAppClient::tunnelOwners(
    std::chrono::milliseconds timeout) {
  return service_->callSync<std::vector<TunnelOwnerEntry>>(AppSelector::tunnelOwners, {}, decodeTunnelOwners, timeout);
}

}  // namespace bcn
