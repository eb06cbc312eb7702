// BitNames: names for the bits of a kernel flag word, for display. Three
// fixed tables (interface flags, capabilities, ND6 flags) are built once on
// first use and never change; reading them is safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "netcore/export.h"

namespace bcn {

class NETCORE_EXPORT BitNames {
 public:
  // (bit position, name) pairs; the order is the output order.
  explicit BitNames(std::vector<std::pair<int, std::string>> bits) : bits_(std::move(bits)) {}

  static const BitNames& interfaceFlags();
  static const BitNames& capabilities();
  static const BitNames& nd6Flags();

  const std::vector<std::pair<int, std::string>>& bits() const { return bits_; }

  // Names of the set bits in table order; unnamed bits are left out.
  std::vector<std::string> names(std::uint32_t value) const;
  // Lower-case hex without prefix, then "<" names joined by "," ">":
  // 8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST>; 0 gives 0<>.
  std::string format(std::uint32_t value) const;

 private:
  std::vector<std::pair<int, std::string>> bits_;
};

}  // namespace bcn
