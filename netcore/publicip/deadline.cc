#include "netcore/publicip/deadline.h"

#include <asio/experimental/as_tuple.hpp>
#include <asio/use_awaitable.hpp>

namespace bcn::PublicIPService {

BootClock::time_point BootClock::now() noexcept {
  timespec ts{};
  ::clock_gettime(CLOCK_BOOTTIME, &ts);
  return time_point(duration(std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec));
}

Deadline::Deadline(const asio::any_io_executor& executor, BootClock::duration limit)
    : timer_(executor, limit) {}

asio::awaitable<Deadline::Outcome> Deadline::wait() {
  if (outcome_ != Outcome::pending) co_return outcome_;
  const auto [error] = co_await timer_.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
  // cancel() sets the outcome before it aborts the wait, so an aborted wait
  // with the outcome still pending was cancelled by the waiter's caller.
  if (!error && outcome_ == Outcome::pending) outcome_ = Outcome::expired;
  co_return outcome_;
}

void Deadline::cancel() {
  if (outcome_ != Outcome::pending) return;
  outcome_ = Outcome::cancelled;
  timer_.cancel();
}

}  // namespace bcn::PublicIPService
