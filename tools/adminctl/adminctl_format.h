// What beaconbar-adminctl prints: the pending pairing requests (text and
// JSON) and one line for each way a refresh or action can end badly. Pure
// functions; thread-safe.
#pragma once

#include <QList>
#include <QString>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "admin-app/admin_model.h"
#include "tools/beaconbar/daemon_errors.h"

namespace bcn::cli {

// A table "REQUEST  OPENED" (oldest first, as the daemon lists them), or
// "No pairing requests are waiting for this user." The daemon shows each
// user only the requests made under that user's id.
std::string formatPendingRequests(const QList<PendingRequest>& pending);

// {"daemonVersion": text | null, "pending": [{"id", "created"}]}, created
// as an ISO 8601 UTC text.
nlohmann::ordered_json pendingRequestsJson(const std::optional<QString>& daemonVersion,
                                           const QList<PendingRequest>& pending);

// Why `call` did not succeed. `outcome` is nothing when the daemon did not
// answer in time; `socket` is the control service's socket, named when it
// could not be reached.
std::string describeOutcome(const std::optional<ModelOutcome>& outcome, DaemonCall call,
                            const std::filesystem::path& socket);

}  // namespace bcn::cli
