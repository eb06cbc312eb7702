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

}  // namespace

const ServiceProtocol& adminAppProtocol() {
  static constexpr ServiceProtocol protocol{"AdminAppProtocol", kAppMethods};
  return protocol;
}

const ServiceProtocol& adminControlProtocol() {
  static constexpr ServiceProtocol protocol{"AdminControlProtocol", kControlMethods};
  return protocol;
}

}  // namespace bcn
