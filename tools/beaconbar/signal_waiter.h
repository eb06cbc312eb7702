// SignalWaiter: turns Ctrl-C (SIGINT), SIGTERM and SIGHUP into something
// the tool's loops wait for, so a stop request lets them finish their work
// (saving the history, cancelling a lookup) instead of killing the process
// half-way. The signals are blocked for the creating thread and every
// thread it starts afterwards, and accepted only by waitFor().
//
// REQUIRES: created on the main thread before any other thread exists, and
// used from that thread only. Restores the old signal mask on destruction.
#pragma once

#include <signal.h>

#include <chrono>

namespace bcn::cli {

class SignalWaiter {
 public:
  SignalWaiter();
  ~SignalWaiter();
  SignalWaiter(const SignalWaiter&) = delete;
  SignalWaiter& operator=(const SignalWaiter&) = delete;

  // Sleeps up to `duration`; true (and the signal number in signal()) as
  // soon as one of the signals arrives. Once one has arrived, every later
  // call returns true at once.
  bool waitFor(std::chrono::nanoseconds duration);

  int signal() const { return signal_; }

 private:
  sigset_t set_;
  sigset_t previous_;
  int signal_ = 0;
};

}  // namespace bcn::cli
