#include "protocol/admin_methods.h"

#include <iterator>

#include "protocol/admin_selectors.h"

namespace bcn {
namespace {

constexpr std::span<const WireSlot> none{};

// Reply shapes shared by several methods.
constexpr WireSlot kStatusReply[] = {{"status", WireKind::dictionary}};
constexpr WireSlot kErrorReply[] = {{"error", WireKind::error, true}};
constexpr WireSlot kTextOrErrorReply[] = {{"value", WireKind::text, true}, {"error", WireKind::error, true}};
constexpr WireSlot kArrayReply[] = {{"items", WireKind::array}};

constexpr WireSlot kOptionalToken[] = {{"token", WireKind::text, true}};
constexpr WireSlot kToken[] = {{"token", WireKind::text}};
constexpr WireSlot kRequestID[] = {{"requestID", WireKind::text}};
constexpr WireSlot kSetService[] = {
    {"serviceID", WireKind::text}, {"enabled", WireKind::boolean}, {"token", WireKind::text}};
constexpr WireSlot kApprove[] = {{"requestID", WireKind::text}, {"authorization", WireKind::data}};
constexpr WireSlot kAuthorization[] = {{"authorization", WireKind::data}};

constexpr MethodSpec kAppMethods[] = {
    {AppSelector::status, kOptionalToken, kStatusReply},
    {AppSelector::beginPairing, none, kTextOrErrorReply},
    {AppSelector::awaitPairing, kRequestID, kTextOrErrorReply, true},
    {AppSelector::setServiceEnabled, kSetService, kErrorReply},
    {AppSelector::unpair, kToken, kErrorReply},
    {AppSelector::tunnelOwners, none, kArrayReply},
};

constexpr MethodSpec kControlMethods[] = {
    {ControlSelector::status, none, kStatusReply},
    {ControlSelector::pendingPairings, none, kArrayReply},
    {ControlSelector::approvePairing, kApprove, kErrorReply},
    {ControlSelector::denyPairing, kRequestID, kErrorReply},
    {ControlSelector::unpairAll, kAuthorization, kErrorReply},
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
