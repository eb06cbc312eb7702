// runProcess: starts a program, collects what it writes and waits for it,
// within a time limit. Used for the command-line tools that stand in for
// system services (polkit's pkcheck, pkexec).
//
// Thread-safe: each call owns its child, pipes and descriptors. The child
// inherits no descriptor of ours besides its stdin (/dev/null), stdout and
// stderr, and is killed (SIGKILL) when the limit passes.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <string>
#include <vector>

#include "platform/error.h"

namespace bcn {

struct ProcessResult {
  // The exit status when the program exited, else -1.
  int exitCode = -1;
  // The terminating signal when it was killed (including by us), else 0.
  int signal = 0;
  bool timedOut = false;
  // At most `maxOutputBytes` of each stream; the rest is read and dropped
  // so a chatty child never blocks on a full pipe.
  std::string standardOutput;
  std::string standardError;

  bool exited() const { return signal == 0 && exitCode >= 0; }
};

struct ProcessOptions {
  std::chrono::milliseconds timeout{10'000};
  std::size_t maxOutputBytes = 64 * 1024;
};

// Runs argv[0] (looked up in PATH when it has no slash) with `argv`.
// Fails only when the program cannot be started at all (missing program,
// no resources); a program that runs and fails is a result, not an error.
// REQUIRES: !argv.empty().
std::expected<ProcessResult, PlatformError> runProcess(const std::vector<std::string>& argv,
                                                       const ProcessOptions& options = {});

}  // namespace bcn
