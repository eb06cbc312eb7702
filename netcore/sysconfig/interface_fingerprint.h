// InterfaceFingerprint: the persisted description of an interface a user
// pinned, and of each interface present now, as PinMatcher compares them.
// A plain value: copyable, comparable and hashable over all five fields in
// declaration order; safe to pass between threads.
//
// Keyed encoding (property-list dictionary or JSON object), in this order:
// "key" and "name" (strings, always written and required), "title" and
// "address" (strings, written only when present, absent when missing), and
// "permanentAddress" (boolean, always written; false when missing). A key
// present with a value of the wrong type is a keyed decoding error (see
// keyed_fields.h); in JSON a null counts as missing.
#pragma once

#include <compare>
#include <expected>
#include <functional>
#include <optional>
#include <string>

#include "netcore/export.h"
#include "platform/error.h"
#include "platform/plist.h"

namespace bcn {

struct NETCORE_EXPORT InterfaceFingerprint {
  // The interface's identity, compared exactly.
  std::string key;
  std::string name;
  // A human-readable title.
  std::optional<std::string> title;
  // An address string identifying the interface.
  std::optional<std::string> address;
  // A firm identity: such a pin matches only its own key, and such a live
  // interface is offered only to the pin with its key.
  bool permanentAddress = false;

  auto operator<=>(const InterfaceFingerprint&) const = default;

  PlistDictionary toPlist() const;
  static std::expected<InterfaceFingerprint, PlatformError> fromPlist(const PlistValue& encoded);
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::InterfaceFingerprint> {
  std::size_t operator()(const bcn::InterfaceFingerprint& fingerprint) const noexcept;
};
