// TunnelOwner: the process behind one tunnel interface, as TunnelOwners
// reports it and the daemon sends it on. A plain value: copyable,
// comparable and hashable over pid, name and path in that order; safe to
// pass between threads.
//
// Keyed encoding (property-list dictionary or JSON object): "pid"
// (integer), "name" (string), "path" (string), written in that order.
// Decoding requires all three; a missing key or a value of the wrong type
// is a keyed decoding error (see keyed_fields.h).
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <functional>
#include <string>

#include "netcore/export.h"
#include "platform/error.h"
#include "platform/plist.h"

namespace bcn {

struct NETCORE_EXPORT TunnelOwner {
  // Owning process id.
  std::int32_t pid = 0;
  // Display name of the owning program; empty when the path was unreadable.
  std::string name;
  // Full path of the owning executable; empty when it could not be read.
  std::string path;

  auto operator<=>(const TunnelOwner&) const = default;

  PlistDictionary toPlist() const;
  static std::expected<TunnelOwner, PlatformError> fromPlist(const PlistValue& encoded);
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::TunnelOwner> {
  std::size_t operator()(const bcn::TunnelOwner& owner) const noexcept;
};
