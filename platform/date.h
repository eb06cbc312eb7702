// Date: a wall-clock instant as seconds since 2001-01-01 00:00:00 UTC, the
// epoch of property-list dates. Plain value; `now()` reads the system clock
// and is safe from any thread. Callers that need repeatable instants (tests,
// history) pass Date values instead of calling now().
#pragma once

#include <compare>
#include <cstddef>
#include <functional>

#include "netcore/export.h"

namespace bcn {

struct NETCORE_EXPORT Date {
  // Seconds between 1970-01-01 and 2001-01-01, both UTC.
  static constexpr double kUnixEpochOffset = 978307200.0;

  double secondsSince2001 = 0;

  static Date now();
  static constexpr Date fromUnixSeconds(double seconds) { return {seconds - kUnixEpochOffset}; }
  constexpr double unixSeconds() const { return secondsSince2001 + kUnixEpochOffset; }

  auto operator<=>(const Date&) const = default;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::Date> {
  std::size_t operator()(const bcn::Date& d) const noexcept {
    return std::hash<double>{}(d.secondsSince2001);
  }
};
