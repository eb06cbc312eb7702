// Test-only: the non-finite doubles the history tests feed in and expect
// (an empty aggregate's minimum, an all-time period, a corrupt sample).
#pragma once

#include <limits>

namespace bcn::testing {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace bcn::testing
