// DaemonHarness: the real beaconbar-admind in private state, runtime and
// configuration directories, with a code-identity registry that admits
// copies of bcn-e2e-client as the app and as the console (and copies of
// other programs a test adds under an identifier), and helpers that run
// those clients as a given user. Test-only code; needs root (it writes
// a root-owned registry and runs clients under other users).
//
// Each harness sets STATE_DIRECTORY, RUNTIME_DIRECTORY and
// CONFIGURATION_DIRECTORY in this process's environment, which the daemon
// and the clients inherit: use one harness per test process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codesign/code_identity_registry.h"
#include "platform/subprocess.h"
#include "platform/testing/test_support.h"

namespace bcn::testing {

class DaemonHarness {
 public:
  enum class Role {
    app,       // registered under the app's identifier
    console,   // registered under the console's identifier
    stranger,  // not registered at all
    impostor,  // registered, but under an identifier neither service admits
  };

  DaemonHarness();
  ~DaemonHarness();
  DaemonHarness(const DaemonHarness&) = delete;
  DaemonHarness& operator=(const DaemonHarness&) = delete;

  // Starts the daemon binding its own sockets, or (activated) behind
  // systemd-socket-activate, which starts it on the first connection.
  // True once both sockets exist.
  bool start(bool activated = false);
  // SIGTERM, then waits; true when it ended cleanly within a few seconds.
  // A harness whose daemon did not, or whose log holds a sanitizer report,
  // fails the running test when it goes away.
  bool stop();
  bool running() const { return pid_ > 0; }

  // Runs the client with `args` as `user` ("root" runs it unchanged).
  ProcessResult run(Role role, const std::string& user, const std::vector<std::string>& args,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

  // Installs a copy of another test program under `role`'s identity (as
  // bcn-e2e-client's copies are) and returns where the copy is. Call before
  // start() or between connections: the registry is rewritten.
  std::filesystem::path install(const std::filesystem::path& program, Role role, const std::string& name);
  // The command line that runs `program` with `args` as `user`;
  // `environment` ("NAME=value") is added to the inherited environment.
  static std::vector<std::string> commandAs(const std::string& user, const std::filesystem::path& program,
                                            const std::vector<std::string>& args,
                                            const std::vector<std::string>& environment = {});

  // The daemon's process id while it runs, else 0.
  pid_t pid() const { return pid_; }

  // Copies `program` into the harness and records the copy in the registry
  // under `identifier`; returns the copy's path. Call before start().
  std::filesystem::path addProgram(const std::filesystem::path& program, std::string_view identifier);
  // Runs `program` as run() runs a client; `environment` ("NAME=value")
  // is added to the inherited environment.
  ProcessResult runProgram(const std::filesystem::path& program, const std::string& user,
                           const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
                           std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

  // Network preferences in the configuration directory whose current set
  // holds one Ethernet service `serviceID`, named `name`, on `device`.
  void writeServicePreferences(const std::string& serviceID, const std::string& name, const std::string& device) const;

  // The value of the first "key=value" line, or "".
  static std::string field(const ProcessResult& result, const std::string& key);

  const std::filesystem::path& base() const { return dir_.path(); }
  std::filesystem::path stateDirectory() const { return dir_ / "state"; }
  std::filesystem::path configurationDirectory() const { return dir_ / "conf"; }
  std::filesystem::path logFile() const { return dir_ / "daemon.log"; }
  std::string log() const;

 private:
  std::filesystem::path clientPath(Role role) const;
  void record(const std::filesystem::path& program, std::string_view identifier);
  void writeRegistry();

  TempDir dir_;
  CodeIdentityRegistry registry_;
  pid_t pid_ = 0;
};

}  // namespace bcn::testing
