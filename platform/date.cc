#include "platform/date.h"

#include <chrono>

namespace bcn {

Date Date::now() {
  using namespace std::chrono;
  const auto since1970 = duration<double>(system_clock::now().time_since_epoch());
  return fromUnixSeconds(since1970.count());
}

}  // namespace bcn
