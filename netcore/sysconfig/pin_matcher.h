// PinMatcher: which live interface each of a user's pinned interfaces
// stands for now. A pin takes the live interface with its own key when
// there is one; otherwise, unless it has a firm identity, it falls back to
// the most specific evidence left (address, then title, then name), and
// the inexact route never gives one live interface to two pins nor takes
// an interface with a firm identity or one some pin names exactly.
//
// Pure functions over values; thread-safe; nothing is kept between calls.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "netcore/export.h"
#include "netcore/sysconfig/interface_fingerprint.h"

namespace bcn {

class NETCORE_EXPORT PinMatcher {
 public:
  PinMatcher() = delete;

  // One result per pin, in pin order: the live fingerprint the pin
  // resolves to, or absent. Pins are served in their order, so of two pins
  // that would fall back to the same interface the earlier one gets it.
  static std::vector<std::optional<InterfaceFingerprint>> resolve(std::span<const InterfaceFingerprint> pins,
                                                                  std::span<const InterfaceFingerprint> live);

 private:
  // The candidate an inexact match picks for `pin`, or nullptr.
  static const InterfaceFingerprint* fallback(const InterfaceFingerprint& pin,
                                              std::span<const InterfaceFingerprint* const> candidates);
};

}  // namespace bcn
