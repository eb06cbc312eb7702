// RateSample: the traffic of one interface over one measured interval, as
// the counter delta tracker produces it and the rate history hands it back.
// Time is a Date (seconds since 2001-01-01 UTC, see platform/date.h);
// callers that need "now" use Date::now() and tests pass fixed instants.
//
// Plain value; safe to copy between threads. Nothing is validated at
// construction: a zero or negative duration makes the rates infinite or
// NaN, and the history ignores such samples.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "netcore/export.h"
#include "platform/date.h"

namespace bcn {

struct NETCORE_EXPORT RateSample {
  Date end;               // when the interval ended (the later counter reading)
  double duration = 0;    // length of the interval in seconds
  std::uint64_t bytesIn = 0;
  std::uint64_t bytesOut = 0;

  // Bytes per second over the interval. No guard against a non-positive
  // duration: 0 bytes over 0 s is NaN, more is +infinity.
  double rateIn() const { return static_cast<double>(bytesIn) / duration; }
  double rateOut() const { return static_cast<double>(bytesOut) / duration; }

  auto operator<=>(const RateSample&) const = default;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::RateSample> {
  std::size_t operator()(const bcn::RateSample& s) const noexcept;
};
