// Helpers shared by the hostile-load tests and the soak's hostile actor:
// starting an attack program as another user, and reading the numbers it
// prints. Test code only.
//
// Thread safety: free functions without shared state.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "daemon/e2e/daemon_harness.h"
#include "platform/ipc/testing/child_peer.h"

namespace bcn::load {

// Runs `program args…` as `user` (through setpriv when the harness says so)
// as a child peer the caller can talk to and stop.
inline std::unique_ptr<ipc::testing::ChildPeer> startAs(const std::string& user, const std::filesystem::path& program,
                                                        const std::vector<std::string>& args) {
  auto argv = testing::DaemonHarness::commandAs(user, program, args);
  const std::string executable = argv[0] == "setpriv" ? "/usr/bin/setpriv" : argv[0];
  argv.erase(argv.begin());
  return std::make_unique<ipc::testing::ChildPeer>(executable, argv);
}

// The value of `key=NUMBER` in an attack program's report; -1 when absent.
inline double reportedNumber(const std::string& output, const std::string& key) {
  const auto at = output.find(key + "=");
  return at == std::string::npos ? -1 : std::stod(output.substr(at + key.size() + 1));
}

}  // namespace bcn::load
