#include "platform/ipc/method_table.h"

#include <iterator>

namespace bcn {
namespace {

// The property-list kind of each plain-value slot kind, in WireKind order.
constexpr PlistValue::Kind kPlistKinds[] = {
    PlistValue::Kind::text, PlistValue::Kind::boolean,    PlistValue::Kind::integer,
    PlistValue::Kind::data, PlistValue::Kind::date,       PlistValue::Kind::dictionary,
    PlistValue::Kind::array,
};
static_assert(std::size(kPlistKinds) == static_cast<std::size_t>(WireKind::error),
              "one property-list kind per plain-value slot kind");

}  // namespace

bool WireSlot::accepts(const PlistValue* value) const {
  if (value == nullptr) return optional;
  // Errors travel in the IPC layer's own slot, never as a plain value.
  if (kind == WireKind::error) return false;
  return value->kind() == kPlistKinds[static_cast<std::size_t>(kind)];
}

const MethodSpec* ServiceProtocol::find(std::string_view selector) const {
  for (const MethodSpec& method : methods) {
    if (method.selector == selector) return &method;
  }
  return nullptr;
}

}  // namespace bcn
