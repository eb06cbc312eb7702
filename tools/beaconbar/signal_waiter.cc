#include "tools/beaconbar/signal_waiter.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace bcn::cli {

SignalWaiter::SignalWaiter() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  sigaddset(&set_, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
}

SignalWaiter::~SignalWaiter() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

bool SignalWaiter::waitFor(std::chrono::nanoseconds duration) {
  if (signal_ != 0) return true;
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + duration;
  for (;;) {
    const auto left = std::max(nanoseconds(0), duration_cast<nanoseconds>(deadline - steady_clock::now()));
    const auto whole = duration_cast<seconds>(left);
    const timespec timeout{static_cast<std::time_t>(whole.count()), static_cast<long>((left - whole).count())};
    const int received = sigtimedwait(&set_, nullptr, &timeout);
    if (received > 0) {
      signal_ = received;
      return true;
    }
    // EINTR: another signal (e.g. a window resize) cut the wait short.
    if (errno != EINTR || left.count() == 0) return false;
  }
}

}  // namespace bcn::cli
