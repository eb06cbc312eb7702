// PublicIPResult: what one public address lookup found. `ipv4` and `ipv6`
// hold the address texts the service reported over each IP version (absent
// when that side failed); `error` is set only when both sides failed and
// then carries the IPv4 side's reason. All fields are plain members so a
// caller may adjust a result afterwards.
//
// Plain value: copyable, comparable, hashable; thread-safe.
#pragma once

#include <compare>
#include <cstddef>
#include <optional>
#include <string>

#include "netcore/export.h"

namespace bcn {

struct NETCORE_EXPORT PublicIPResult {
  std::optional<std::string> ipv4;
  std::optional<std::string> ipv6;
  std::optional<std::string> error;

  bool operator==(const PublicIPResult&) const = default;
  auto operator<=>(const PublicIPResult&) const = default;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::PublicIPResult> {
  std::size_t operator()(const bcn::PublicIPResult& r) const noexcept;
};
