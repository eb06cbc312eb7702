// pending, approve, deny and unpair-all through AdminModel, the console's
// own model, so both clients of the control service behave alike.
#include "tools/adminctl/adminctl_commands.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <optional>

#include "platform/authorization/polkit_authorization.h"
#include "platform/ipc/service_socket.h"
#include "protocol/admin_constants.h"
#include "tools/adminctl/adminctl_format.h"
#include "tools/adminctl/model_driver.h"
#include "tools/adminctl/terminal_agent.h"
#include "tools/beaconbar/cli_output.h"

namespace bcn::cli {
namespace {

using Json = nlohmann::ordered_json;

int failAdminctl(const std::string& message) { return failAs("beaconbar-adminctl", message); }

std::filesystem::path controlSocket() { return ipc::servicePath(AdminConstants::controlServiceName()); }

// Request ids are upper-case UUIDs; accept them typed in lower case.
QString requestIDFrom(const std::string& typed) {
  std::string id = typed;
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return QString::fromStdString(id);
}

// Started before the model exists, so before any thread does. Without
// it, polkit has nobody to ask the administrator where no desktop agent
// runs; its failure is not fatal, since a desktop agent may still answer.
std::optional<TerminalAgent> terminalAgentFor(const AdminctlOptions& options) {
  if (!options.terminalAgent || !TerminalAgent::terminalAvailable()) return std::nullopt;
  auto agent = TerminalAgent::start(::getpid());
  if (!agent) return std::nullopt;
  return std::move(*agent);
}

// Runs an action that needs the pair right; prints `done` on success.
int runAuthorizedAction(const AdminctlOptions& options, DaemonCall call, const std::function<void(AdminModel&)>& action,
                        const std::string& done) {
  const auto agent = terminalAgentFor(options);
  PolkitAuthorizationServices authorization;
  ModelDriver driver(authorization);
  const auto outcome = driver.act(action);
  if (!outcome || outcome->kind != ModelOutcome::Kind::succeeded) {
    return failAdminctl(describeOutcome(outcome, call, controlSocket()));
  }
  if (options.json) {
    printJson({{"done", true}, {"message", driver.model().message().value_or(QString()).toStdString()}});
  } else {
    printText(driver.model().message().value_or(QString::fromStdString(done)).toStdString() + "\n");
  }
  return 0;
}

}  // namespace

int runPending(const AdminctlOptions& options) {
  PolkitAuthorizationServices authorization;
  ModelDriver driver(authorization);
  const auto outcome = driver.refresh();
  if (!outcome || outcome->kind != ModelOutcome::Kind::succeeded) {
    return failAdminctl(describeOutcome(outcome, DaemonCall::pending, controlSocket()));
  }
  if (options.json) {
    printJson(pendingRequestsJson(driver.model().helperVersion(), driver.model().pending()));
  } else {
    printText(formatPendingRequests(driver.model().pending()));
  }
  return 0;
}

int runApprove(const AdminctlOptions& options, const std::string& requestID) {
  const QString id = requestIDFrom(requestID);
  return runAuthorizedAction(
      options, DaemonCall::approve, [id](AdminModel& model) { model.approve(id); }, "Beaconbar is paired.");
}

int runDeny(const AdminctlOptions& options, const std::string& requestID) {
  const QString id = requestIDFrom(requestID);
  PolkitAuthorizationServices authorization;
  ModelDriver driver(authorization);
  const auto outcome = driver.act([id](AdminModel& model) { model.deny(id); });
  if (!outcome || outcome->kind != ModelOutcome::Kind::succeeded) {
    return failAdminctl(describeOutcome(outcome, DaemonCall::deny, controlSocket()));
  }
  if (options.json) {
    printJson({{"done", true}, {"message", "Request " + id.toStdString() + " denied."}});
  } else {
    printText("Request " + id.toStdString() + " denied.\n");
  }
  return 0;
}

int runUnpairAll(const AdminctlOptions& options) {
  return runAuthorizedAction(
      options, DaemonCall::unpairAll, [](AdminModel& model) { model.unpairAll(); }, "All pairings removed.");
}

}  // namespace bcn::cli
