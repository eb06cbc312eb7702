// The daemon's replies as typed values, decoded from the reply values of the
// IPC layer. Pure functions; thread-safe.
//
// Each decoder first turns an IPC failure or the method's own error into
// the error it returns; then it reads the values, tolerating extra keys and
// any order, and answers replyInvalid() when a promised value is missing or
// of the wrong kind.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "platform/date.h"
#include "platform/error.h"
#include "platform/ipc/client.h"

namespace bcn {

struct AdminStatus {
  std::string version;
  std::int64_t protocolVersion = 0;
  std::optional<bool> paired;  // the app service's status only

  bool operator==(const AdminStatus&) const = default;
};

struct TunnelOwnerEntry {
  std::string interface;
  std::string name;
  std::int32_t pid = 0;
  std::string path;

  bool operator==(const TunnelOwnerEntry&) const = default;
  auto operator<=>(const TunnelOwnerEntry&) const = default;
};

struct PendingPairing {
  std::string id;
  Date created;

  bool operator==(const PendingPairing&) const = default;
};

using IpcResult = ipc::Client::Result;

// The app status must carry "paired"; the control status need not.
std::expected<AdminStatus, PlatformError> decodeStatus(const IpcResult& result, bool withPaired);
// A text reply ("value"), required unless an error came instead.
std::expected<std::string, PlatformError> decodeText(const IpcResult& result);
std::expected<void, PlatformError> decodeNothing(const IpcResult& result);
std::expected<std::vector<TunnelOwnerEntry>, PlatformError> decodeTunnelOwners(const IpcResult& result);
std::expected<std::vector<PendingPairing>, PlatformError> decodePendingPairings(const IpcResult& result);

}  // namespace bcn
