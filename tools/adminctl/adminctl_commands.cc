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

// Runs an action on `driver` and prints how it ended. On success that is
// the model's message when `done` is empty (the daemon's own words),
// otherwise `done`.
int reportAction(ModelDriver& driver, const AdminctlOptions& options, DaemonCall call,
                 const std::function<void(AdminModel&)>& action, const std::string& done) {
  const auto outcome = driver.act(action);
  if (!outcome || outcome->kind != ModelOutcome::Kind::succeeded) {
    return failAdminctl(describeOutcome(outcome, call, controlSocket()));
  }
  const std::string message = done.empty() ? driver.model().message().value_or(QString()).toStdString() : done;
  if (options.json) {
    printJson({{"done", true}, {"message", message}});
  } else {
    printText(message + "\n");
  }
  return 0;
}

// A driver of its own for a one-shot command, with the terminal agent
// started first when the command may need the pair right.
template <typename Command>
int oneShot(const AdminctlOptions& options, bool authorizes, Command command) {
  const auto agent = authorizes ? terminalAgentFor(options) : std::nullopt;
  PolkitAuthorizationServices authorization;
  ModelDriver driver(authorization);
  return command(driver);
}

}  // namespace

std::optional<TerminalAgent> terminalAgentFor(const AdminctlOptions& options) {
  if (!options.terminalAgent || !TerminalAgent::terminalAvailable()) return std::nullopt;
  auto agent = TerminalAgent::start(::getpid());
  if (!agent) return std::nullopt;
  return std::move(*agent);
}

int pendingWith(ModelDriver& driver, const AdminctlOptions& options) {
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

int approveWith(ModelDriver& driver, const AdminctlOptions& options, const std::string& requestID) {
  const QString id = requestIDFrom(requestID);
  return reportAction(driver, options, DaemonCall::approve, [id](AdminModel& model) { model.approve(id); }, "");
}

int denyWith(ModelDriver& driver, const AdminctlOptions& options, const std::string& requestID) {
  const QString id = requestIDFrom(requestID);
  return reportAction(driver, options, DaemonCall::deny, [id](AdminModel& model) { model.deny(id); },
                      "Request " + id.toStdString() + " denied.");
}

int unpairAllWith(ModelDriver& driver, const AdminctlOptions& options) {
  return reportAction(driver, options, DaemonCall::unpairAll, [](AdminModel& model) { model.unpairAll(); }, "");
}

int runPending(const AdminctlOptions& options) {
  return oneShot(options, false, [&](ModelDriver& driver) { return pendingWith(driver, options); });
}

int runApprove(const AdminctlOptions& options, const std::string& requestID) {
  return oneShot(options, true, [&](ModelDriver& driver) { return approveWith(driver, options, requestID); });
}

int runDeny(const AdminctlOptions& options, const std::string& requestID) {
  return oneShot(options, false, [&](ModelDriver& driver) { return denyWith(driver, options, requestID); });
}

int runUnpairAll(const AdminctlOptions& options) {
  return oneShot(options, true, [&](ModelDriver& driver) { return unpairAllWith(driver, options); });
}

}  // namespace bcn::cli
