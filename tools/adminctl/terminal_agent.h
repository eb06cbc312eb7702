// TerminalAgent: polkit's text authentication agent (pkttyagent, shipped
// with polkitd) registered for one process, so that an administrator
// working on a terminal can authenticate where no desktop agent runs (an
// SSH session, a console login). It is registered as a fallback: polkit
// asks a desktop agent of the session when there is one and this agent
// only otherwise, so starting it is harmless on a desktop. It asks on the
// controlling terminal, which must therefore exist.
//
// One owner. The agent lives until the object goes away (SIGTERM, then
// reaped), and dies with its parent if that goes first.
// REQUIRES: start() is called before the process starts other threads (it
// forks).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <string>
#include <utility>

namespace bcn::cli {

class TerminalAgent {
 public:
  static constexpr std::chrono::milliseconds kRegisterLimit{5000};

  // Whether this process has a controlling terminal to ask on.
  static bool terminalAvailable();

  // Starts `program` (pkttyagent) for the process `subject` and waits up
  // to `limit` until it has registered. Fails when it cannot be started,
  // exits instead of registering (polkit refused it: no system bus,
  // another agent registered for the process, no terminal), or does not
  // register in time (it is stopped then).
  static std::expected<TerminalAgent, std::string> start(pid_t subject,
                                                         std::chrono::milliseconds limit = kRegisterLimit,
                                                         const std::string& program = "pkttyagent");

  TerminalAgent(TerminalAgent&& other) noexcept : pid_(std::exchange(other.pid_, 0)) {}
  TerminalAgent& operator=(TerminalAgent&&) = delete;
  TerminalAgent(const TerminalAgent&) = delete;
  ~TerminalAgent();

  pid_t pid() const { return pid_; }

 private:
  explicit TerminalAgent(pid_t pid) : pid_(pid) {}
  pid_t pid_;
};

}  // namespace bcn::cli
