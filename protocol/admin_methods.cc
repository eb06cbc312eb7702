#include "protocol/admin_methods.h"

#include <iterator>

namespace bcn {
namespace {

constexpr std::span<const WireSlot> none{};

// Reply shapes shared by several methods.
constexpr WireSlot kStatusReply[] = {{"status", WireKind::dictionary}};
constexpr WireSlot kErrorReply[] = {{"error", WireKind::error, true}};
constexpr WireSlot kTextOrErrorReply[] = {{"value", WireKind::text, true},
                                          {"error", WireKind::error, true}};
constexpr WireSlot kArrayReply[] = {{"items", WireKind::array}};

constexpr WireSlot kOptionalToken[] = {{"token", WireKind::text, true}};
constexpr WireSlot kToken[] = {{"token", WireKind::text}};
constexpr WireSlot kRequestID[] = {{"requestID", WireKind::text}};
constexpr WireSlot kSetService[] = {{"serviceID", WireKind::text},
                                    {"enabled", WireKind::boolean},
                                    {"token", WireKind::text}};
constexpr WireSlot kApprove[] = {{"requestID", WireKind::text},
                                 {"authorization", WireKind::data}};
constexpr WireSlot kAuthorization[] = {{"authorization", WireKind::data}};

constexpr MethodSpec kAppMethods[] = {
    {"statusWithToken:reply:", kOptionalToken, kStatusReply},
    {"beginPairingWithReply:", none, kTextOrErrorReply},
    {"awaitPairingWithRequestID:reply:", kRequestID, kTextOrErrorReply, true},
    {"setServiceEnabledWithServiceID:enabled:token:reply:", kSetService, kErrorReply},
    {"unpairWithToken:reply:", kToken, kErrorReply},
    {"tunnelOwnersWithReply:", none, kArrayReply},
};

constexpr MethodSpec kControlMethods[] = {
    {"statusWithReply:", none, kStatusReply},
    {"pendingPairingsWithReply:", none, kArrayReply},
    {"approvePairingWithRequestID:authorization:reply:", kApprove, kErrorReply},
    {"denyPairingWithRequestID:reply:", kRequestID, kErrorReply},
    {"unpairAllWithAuthorization:reply:", kAuthorization, kErrorReply},
};

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

const ServiceProtocol& adminAppProtocol() {
  static constexpr ServiceProtocol protocol{"AdminAppProtocol", kAppMethods};
  return protocol;
}

const ServiceProtocol& adminControlProtocol() {
  static constexpr ServiceProtocol protocol{"AdminControlProtocol", kControlMethods};
  return protocol;
}

}  // namespace bcn
