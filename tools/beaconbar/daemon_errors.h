// One-line texts for what can go wrong between a command-line client and
// the admin daemon: reaching its socket, the IPC layer's own failures, and
// the daemon's AdminErrors, whose fixed messages are written for the
// menu-bar app and say nothing about what to do next on the command line.
// The same code can mean different things for different calls (code 4 is a
// denial for an app waiting on its request, a refused authorization for
// an approval), so each text depends on the call. Shared by beaconbar and
// beaconbar-adminctl. Pure functions; thread-safe.
#pragma once

#include <filesystem>
#include <string>

#include "platform/error.h"

namespace bcn::cli {

enum class DaemonCall {
  // app service
  status,
  beginPairing,
  awaitPairing,
  unpair,
  setService,
  tunnelOwners,
  // control service
  pending,
  approve,
  deny,
  unpairAll,
};

// Connecting to the service socket at `socket` failed with `error`.
std::string describeConnectError(const PlatformError& error, const std::filesystem::path& socket);

// `call` failed with `error`: an AdminError, an IPC failure or anything
// else (whose own description is used).
std::string describeDaemonError(const PlatformError& error, DaemonCall call);

}  // namespace bcn::cli
