// RateLimiter: how often each caller may have something expensive or noisy
// done for it — a token bucket per key, refilled at a steady rate up to a
// burst. The key is whatever identity the caller is counted under (today
// the peer's effective uid); the limiter only compares keys.
//
// Memory is bounded: once more than kMaxKeys callers are tracked, those
// whose buckets have refilled (idle callers) are forgotten, and a refused
// count they had goes with them.
//
// Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace bcn {

class RateLimiter {
 public:
  using Clock = std::chrono::steady_clock;

  struct Rate {
    double burst = 1;      // events allowed at once after a quiet spell; >= 1
    double perSecond = 1;  // sustained events per second; > 0
  };

  struct Decision {
    bool allowed = false;
    // Events of this key refused since its last allowed one; reported (and
    // reset) with the next allowed event.
    std::uint64_t refusedBefore = 0;
  };

  static constexpr std::size_t kMaxKeys = 4096;

  explicit RateLimiter(Rate rate) : rate_(rate) {}

  // Counts one event of `key` at `now` and says whether it may go ahead.
  Decision take(std::uint32_t key, Clock::time_point now = Clock::now());

 private:
  struct Bucket {
    double tokens = 0;
    Clock::time_point updated;
    std::uint64_t refused = 0;
  };
  double tokensAt(const Bucket& bucket, Clock::time_point now) const;
  void forgetIdle(Clock::time_point now);

  const Rate rate_;
  std::mutex mutex_;
  std::unordered_map<std::uint32_t, Bucket> buckets_;  // guarded by mutex_
};

}  // namespace bcn
