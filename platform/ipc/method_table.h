// The shape of a service's methods, written as data: for each method its
// selector, its arguments and the values of its reply, with their kinds.
// The IPC layer checks incoming calls and outgoing replies against such a
// table; each service defines its own table next to its protocol.
// Immutable static data; thread-safe.
#pragma once

#include <span>
#include <string_view>

#include "platform/plist.h"

namespace bcn {

// What may travel in one argument or reply slot.
enum class WireKind {
  text,
  boolean,
  integer,
  data,
  date,
  dictionary,
  array,
  error,  // a PlatformError: {domain, code, description}
};

struct WireSlot {
  std::string_view name;
  WireKind kind;
  bool optional = false;  // the slot may be absent

  // Whether `value` (nullptr = absent) may fill this slot. Error slots are
  // carried by the IPC layer, not as plain values, and accept only absence.
  bool accepts(const PlistValue* value) const;
};

struct MethodSpec {
  std::string_view selector;
  std::span<const WireSlot> arguments;
  std::span<const WireSlot> reply;
  // The daemon may hold the reply open (the pairing wait) instead of
  // answering at once.
  bool replyMayBeHeld = false;
};

struct ServiceProtocol {
  std::string_view name;
  std::span<const MethodSpec> methods;

  // The method with this selector, or nullptr.
  const MethodSpec* find(std::string_view selector) const;
};

}  // namespace bcn
