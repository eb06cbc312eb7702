// The selectors of the daemon's two services: the one spelling that the
// method tables, the daemon's sessions and the typed clients share.
// Constants only; thread-safe.
#pragma once

#include <string_view>

namespace bcn {

// Served on AdminConstants::appServiceName(); peer: the menu-bar app.
namespace AppSelector {
inline constexpr std::string_view status = "statusWithToken:reply:";
inline constexpr std::string_view beginPairing = "beginPairingWithReply:";
inline constexpr std::string_view awaitPairing = "awaitPairingWithRequestID:reply:";
inline constexpr std::string_view setServiceEnabled = "setServiceEnabledWithServiceID:enabled:token:reply:";
inline constexpr std::string_view unpair = "unpairWithToken:reply:";
inline constexpr std::string_view tunnelOwners = "tunnelOwnersWithReply:";
}  // namespace AppSelector

// Served on AdminConstants::controlServiceName(); peer: the admin console.
namespace ControlSelector {
inline constexpr std::string_view status = "statusWithReply:";
inline constexpr std::string_view pendingPairings = "pendingPairingsWithReply:";
inline constexpr std::string_view approvePairing = "approvePairingWithRequestID:authorization:reply:";
inline constexpr std::string_view denyPairing = "denyPairingWithRequestID:reply:";
inline constexpr std::string_view unpairAll = "unpairAllWithAuthorization:reply:";
}  // namespace ControlSelector

}  // namespace bcn
