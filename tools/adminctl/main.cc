// beaconbar-adminctl: the administrator's side of pairing on machines
// without a desktop. Lists the pairing requests of the current user,
// approves or denies one, or revokes every pairing, asking polkit for the
// administrator's authorization (on the terminal when no desktop agent
// runs). `session` reads such commands line by line and runs them on one
// model, so one authorization serves several approvals. It carries the console's identity, the only one the daemon's
// control service admits.
#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <exception>

#include "tools/adminctl/adminctl_commands.h"
#include "tools/adminctl/adminctl_session.h"
#include "tools/beaconbar/cli_output.h"

namespace {

using namespace bcn::cli;

int run(int argc, char** argv) {
  CLI::App app{"Approve or deny Beaconbar pairing requests and revoke pairings (the console's tasks, headless).",
               "beaconbar-adminctl"};
  app.set_version_flag("--version", BEACONBAR_VERSION);
  app.require_subcommand(1);
  AdminctlOptions options;
  app.add_flag("--json", options.json, "Print JSON instead of text");
  bool noAgent = false;
  app.add_flag("--no-terminal-agent", noAgent, "Do not start polkit's terminal agent (pkttyagent)");
  app.fallthrough();

  CLI::App* pending = app.add_subcommand("pending", "The pairing requests of this user, oldest first");
  std::string requestID;
  CLI::App* approve = app.add_subcommand("approve", "Approve a pairing request (asks for administrator rights)");
  approve->add_option("ID", requestID, "Request id, as pending lists it")->required();
  CLI::App* deny = app.add_subcommand("deny", "Deny a pairing request");
  deny->add_option("ID", requestID, "Request id, as pending lists it")->required();
  CLI::App* unpairAll =
      app.add_subcommand("unpair-all", "Revoke every pairing of every user (asks for administrator rights)");
  CLI::App* session = app.add_subcommand(
      "session", "Read commands from standard input, one per line (pending, approve ID, deny ID, unpair-all, quit), "
                 "and run them with one authorization");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return failAs("beaconbar-adminctl", std::string(e.what()) + " (see beaconbar-adminctl --help)", kExitUsage);
  }
  options.terminalAgent = !noAgent;

  // The model delivers its results through the application's event loop.
  QCoreApplication application(argc, argv);
  if (pending->parsed()) return runPending(options);
  if (approve->parsed()) return runApprove(options, requestID);
  if (deny->parsed()) return runDeny(options, requestID);
  if (unpairAll->parsed()) return runUnpairAll(options);
  if (session->parsed()) return runSessionOnStandardInput(options);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    return failAs("beaconbar-adminctl", std::string("internal error: ") + e.what());
  }
}
