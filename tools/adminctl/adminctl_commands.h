// The subcommands of beaconbar-adminctl, the administrator's client for
// headless machines: the console's model driven without a window. Each
// returns the process exit status; failures are one line on standard
// error. main.cc parses the command line and creates the
// QCoreApplication the model needs.
#pragma once

#include <string>

namespace bcn::cli {

struct AdminctlOptions {
  bool json = false;
  // Start polkit's terminal agent when an authorization may be asked for
  // and a terminal is there to ask on.
  bool terminalAgent = true;
};

int runPending(const AdminctlOptions& options);
int runApprove(const AdminctlOptions& options, const std::string& requestID);
int runDeny(const AdminctlOptions& options, const std::string& requestID);
int runUnpairAll(const AdminctlOptions& options);

}  // namespace bcn::cli
