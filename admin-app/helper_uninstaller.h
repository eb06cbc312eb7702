// Running the uninstall script with administrator privileges: the console
// starts `pkexec /bin/sh <script>` and waits for it, so the window stays
// blocked while polkit asks for the administrator's password.
//
// Thread-safe (each call owns its child process); blocks for as long as the
// administrator and the script take, up to the command's time limit.
#pragma once

#include <chrono>
#include <expected>
#include <string>
#include <vector>

namespace bcn {

struct UninstallCommand {
  std::vector<std::string> argv;
  // The password dialog counts against it.
  std::chrono::milliseconds timeout{std::chrono::minutes(10)};
};

// Where the install puts the script (BCN_UNINSTALL_SCRIPT at build time).
const char* uninstallScriptPath();
// pkexec /bin/sh <uninstallScriptPath()>
UninstallCommand defaultUninstallCommand();

// Runs `command`. Success only when it exits with status 0. Otherwise the
// tool's error text: what it wrote to stderr (trimmed, at most a few KiB),
// or why it could not be started; empty when it said nothing, e.g. when it
// was killed at the time limit.
// REQUIRES: !command.argv.empty().
std::expected<void, std::string> runUninstall(const UninstallCommand& command);

}  // namespace bcn
