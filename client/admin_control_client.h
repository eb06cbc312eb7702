// AdminControlClient: the control service of the daemon (the admin
// console), one typed call per method, asynchronous or synchronous with a
// time limit. Authorizations are the 32-byte external form.
//
// Thread-safe; see service_client.h for the completion rules.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/admin_replies.h"
#include "client/service_client.h"
#include "protocol/admin_selectors.h"  // ControlSelector, for calls sent over connection()

namespace bcn {

class AdminControlClient {
 public:
  // Connects to `socketPath`, by default the control service's socket in
  // the runtime directory.
  static std::expected<AdminControlClient, PlatformError> connect(std::optional<std::filesystem::path> socketPath = {},
                                                                  ipc::Client::Options options = {});

  void status(Completion<AdminStatus> done);
  std::expected<AdminStatus, PlatformError> status(std::chrono::milliseconds timeout = kDefaultCallTimeout);

  void pendingPairings(Completion<std::vector<PendingPairing>> done);
  std::expected<std::vector<PendingPairing>, PlatformError> pendingPairings(
      std::chrono::milliseconds timeout = kDefaultCallTimeout);

  void approvePairing(const std::string& requestID, const std::vector<std::uint8_t>& authorization,
                      Completion<void> done);
  std::expected<void, PlatformError> approvePairing(const std::string& requestID,
                                                    const std::vector<std::uint8_t>& authorization,
                                                    std::chrono::milliseconds timeout = kDefaultCallTimeout);

  void denyPairing(const std::string& requestID, Completion<void> done);
  std::expected<void, PlatformError> denyPairing(const std::string& requestID,
                                                 std::chrono::milliseconds timeout = kDefaultCallTimeout);

  void unpairAll(const std::vector<std::uint8_t>& authorization, Completion<void> done);
  std::expected<void, PlatformError> unpairAll(const std::vector<std::uint8_t>& authorization,
                                               std::chrono::milliseconds timeout = kDefaultCallTimeout);

  ipc::Client& connection() { return service_->connection(); }

 private:
  explicit AdminControlClient(std::unique_ptr<ServiceClient> service) : service_(std::move(service)) {}
  std::unique_ptr<ServiceClient> service_;
};

}  // namespace bcn
