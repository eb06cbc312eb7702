#include "daemon/rate_limiter.h"

#include <algorithm>
#include <utility>

namespace bcn {

double RateLimiter::tokensAt(const Bucket& bucket, Clock::time_point now) const {
  if (now <= bucket.updated) return bucket.tokens;
  const double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
  return std::min(rate_.burst, bucket.tokens + elapsed * rate_.perSecond);
}

void RateLimiter::forgetIdle(Clock::time_point now) {
  std::erase_if(buckets_, [&](const auto& entry) { return tokensAt(entry.second, now) >= rate_.burst; });
}

RateLimiter::Decision RateLimiter::take(std::uint32_t key, Clock::time_point now) {
  std::lock_guard guard(mutex_);
  auto found = buckets_.find(key);
  if (found == buckets_.end()) {
    if (buckets_.size() >= kMaxKeys) forgetIdle(now);
    found = buckets_.emplace(key, Bucket{rate_.burst, now, 0}).first;
  }
  Bucket& bucket = found->second;
  bucket.tokens = tokensAt(bucket, now);
  bucket.updated = std::max(bucket.updated, now);
  if (bucket.tokens < 1) {
    ++bucket.refused;
    return {false, 0};
  }
  bucket.tokens -= 1;
  return {true, std::exchange(bucket.refused, 0)};
}

}  // namespace bcn
