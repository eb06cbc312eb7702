// The subcommands of beaconbar-adminctl, the administrator's client for
// headless machines: the console's model driven without a window. Each
// returns the process exit status; failures are one line on standard
// error. main.cc parses the command line and creates the
// QCoreApplication the model needs.
#pragma once

#include <optional>
#include <string>

#include "tools/adminctl/model_driver.h"
#include "tools/adminctl/terminal_agent.h"

namespace bcn::cli {

struct AdminctlOptions {
  bool json = false;
  // Start polkit's terminal agent when an authorization may be asked for
  // and a terminal is there to ask on.
  bool terminalAgent = true;
};

// polkit's terminal agent for this process, when `options` allow it and
// a terminal is there to ask on. Start it before the model exists, so
// before any thread does. Without it polkit has nobody to ask the
// administrator where no desktop agent runs; failing to start it is not
// fatal, since a desktop agent may still answer.
std::optional<TerminalAgent> terminalAgentFor(const AdminctlOptions& options);

// The commands over a driver the caller keeps, so several of them share
// one model and the authorization it holds (a session).
int pendingWith(ModelDriver& driver, const AdminctlOptions& options);
int approveWith(ModelDriver& driver, const AdminctlOptions& options, const std::string& requestID);
int denyWith(ModelDriver& driver, const AdminctlOptions& options, const std::string& requestID);
int unpairAllWith(ModelDriver& driver, const AdminctlOptions& options);

// Each with a driver of its own.
int runPending(const AdminctlOptions& options);
int runApprove(const AdminctlOptions& options, const std::string& requestID);
int runDeny(const AdminctlOptions& options, const std::string& requestID);
int runUnpairAll(const AdminctlOptions& options);

}  // namespace bcn::cli
