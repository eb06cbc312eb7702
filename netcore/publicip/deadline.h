// Deadline: the one time limit of a lookup over one IP version, covering
// name resolution, connecting, the TLS handshake, sending and receiving.
// It runs on a continuous clock (CLOCK_BOOTTIME), which keeps counting
// while the machine sleeps, so a lookup started before a sleep does not
// get its full limit again after waking. cancel() ends it early, for a
// caller that no longer wants the answer.
//
// Not thread-safe: create, wait on and cancel it on the thread that runs
// its executor. The object must outlive every wait on it.
#pragma once

#include <chrono>
#include <ctime>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/basic_waitable_timer.hpp>

#include "netcore/publicip/public_ip_service.h"

namespace bcn::PublicIPService {

// std::chrono clock over CLOCK_BOOTTIME: monotonic and counting suspend.
struct BootClock {
  using rep = std::int64_t;
  using period = std::nano;
  using duration = std::chrono::nanoseconds;
  using time_point = std::chrono::time_point<BootClock>;
  static constexpr bool is_steady = true;
  static time_point now() noexcept;
};

class Deadline {
 public:
  enum class Outcome { pending, expired, cancelled };

  // The limit starts counting now.
  Deadline(const asio::any_io_executor& executor, BootClock::duration limit);
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  // Completes when the limit is reached (outcome expired), when cancel()
  // is called (outcome cancelled), or when the wait itself is cancelled by
  // its caller (outcome stays pending). Returns immediately if the outcome
  // is already decided.
  asio::awaitable<Outcome> wait();

  void cancel();
  Outcome outcome() const { return outcome_; }

 private:
  asio::basic_waitable_timer<BootClock> timer_;
  Outcome outcome_ = Outcome::pending;
};

}  // namespace bcn::PublicIPService
