// AdminAppClient: the app service of the daemon (menu-bar app, command-line
// tool), one typed call per method. Each call has an asynchronous form
// (completion on the client's I/O thread) and a synchronous one with a time
// limit. Failures are PlatformErrors: the daemon's AdminErrors (turn them
// back with adminErrorFromPlatformError) or the IPC layer's own errors.
//
// Thread-safe; see service_client.h for the completion rules.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "client/admin_replies.h"
#include "client/service_client.h"

namespace bcn {

class AdminAppClient {
 public:
  // Connects to `socketPath`, by default the app service's socket in the
  // runtime directory.
  static std::expected<AdminAppClient, PlatformError> connect(std::optional<std::filesystem::path> socketPath = {},
                                                              ipc::Client::Options options = {});

  void status(std::optional<std::string> token, Completion<AdminStatus> done);
  std::expected<AdminStatus, PlatformError> status(std::optional<std::string> token,
                                                   std::chrono::milliseconds timeout = kDefaultCallTimeout);

  void beginPairing(Completion<std::string> done);
  std::expected<std::string, PlatformError> beginPairing(std::chrono::milliseconds timeout = kDefaultCallTimeout);

  // The daemon holds this call until an administrator decides; the token
  // arrives then.
  void awaitPairing(const std::string& requestID, Completion<std::string> done);
  std::expected<std::string, PlatformError> awaitPairing(const std::string& requestID,
                                                         std::chrono::milliseconds timeout);

  void setServiceEnabled(const std::string& serviceID, bool enabled, const std::string& token,
                         Completion<void> done);
  std::expected<void, PlatformError> setServiceEnabled(const std::string& serviceID, bool enabled,
                                                       const std::string& token,
                                                       std::chrono::milliseconds timeout = kDefaultCallTimeout);

  void unpair(const std::string& token, Completion<void> done);
  std::expected<void, PlatformError> unpair(const std::string& token,
                                            std::chrono::milliseconds timeout = kDefaultCallTimeout);

  void tunnelOwners(Completion<std::vector<TunnelOwnerEntry>> done);
  std::expected<std::vector<TunnelOwnerEntry>, PlatformError> tunnelOwners(
      std::chrono::milliseconds timeout = kDefaultCallTimeout);

  ipc::Client& connection() { return service_->connection(); }

 private:
  explicit AdminAppClient(std::unique_ptr<ServiceClient> service) : service_(std::move(service)) {}
  std::unique_ptr<ServiceClient> service_;
};

}  // namespace bcn
