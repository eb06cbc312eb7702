#include "tools/adminctl/adminctl_format.h"

#include <cerrno>

#include "admin-app/console_replies.h"
#include "platform/authorization/authorization.h"
#include "tools/beaconbar/text_table.h"
#include "tools/beaconbar/units.h"

namespace bcn::cli {

std::string formatPendingRequests(const QList<PendingRequest>& pending) {
  if (pending.isEmpty()) return "No pairing requests are waiting for this user.\n";
  TextTable table;
  table.addRow({"REQUEST", "OPENED"});
  for (const PendingRequest& r : pending) table.addRow({r.id.toStdString(), formatTimestamp(fromQDateTime(r.created))});
  return table.render();
}

nlohmann::ordered_json pendingRequestsJson(const std::optional<QString>& daemonVersion,
                                           const QList<PendingRequest>& pending) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const PendingRequest& r : pending) {
    list.push_back({{"id", r.id.toStdString()}, {"created", formatIsoTimestamp(fromQDateTime(r.created))}});
  }
  return {{"daemonVersion",
           daemonVersion ? nlohmann::ordered_json(daemonVersion->toStdString()) : nlohmann::ordered_json(nullptr)},
          {"pending", std::move(list)}};
}

std::string describeOutcome(const std::optional<ModelOutcome>& outcome, DaemonCall call,
                            const std::filesystem::path& socket) {
  if (!outcome) return "the admin daemon did not answer in time";
  switch (outcome->kind) {
    case ModelOutcome::Kind::succeeded:
      return "";
    case ModelOutcome::Kind::cancelled:
      return "authorization cancelled; nothing was changed";
    case ModelOutcome::Kind::notAuthorized:
      if (outcome->authorizationStatus == AuthorizationStatus::interactionNotAllowed) {
        return "administrator authorization needs an authentication agent: run this in a terminal or a desktop "
               "session";
      }
      if (outcome->authorizationStatus == AuthorizationStatus::denied) {
        return "administrator authorization was refused (polkit action com.quillbank.Beaconbar.admin.pair)";
      }
      return "administrator authorization failed (status " + std::to_string(outcome->authorizationStatus) + ")";
    case ModelOutcome::Kind::failed:
      break;
  }
  if (!outcome->error) return "the admin daemon failed";
  const PlatformError& error = *outcome->error;
  // The model connects on first use; what stopped it from connecting is a
  // system error, unlike what a call on the connection fails with.
  if (error.domain == PlatformError::kPosixDomain && error.code != ETIMEDOUT) {
    return describeConnectError(error, socket);
  }
  return describeDaemonError(error, call);
}

}  // namespace bcn::cli
