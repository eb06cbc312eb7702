// Keys of the dictionaries the daemon returns: status replies, tunnel
// owners and pending pairing requests. Clients must accept the entries of
// these dictionaries in any order.
#pragma once

#include <string_view>

namespace bcn {

namespace AdminStatusKey {
inline constexpr std::string_view version = "version";
// Deliberately "protocol", not "protocolVersion": peers already rely on it.
inline constexpr std::string_view protocolVersion = "protocol";
inline constexpr std::string_view paired = "paired";
}  // namespace AdminStatusKey

namespace TunnelOwnerKey {
inline constexpr std::string_view interface = "interface";
inline constexpr std::string_view name = "name";
inline constexpr std::string_view pid = "pid";
inline constexpr std::string_view path = "path";
}  // namespace TunnelOwnerKey

namespace PendingPairingKey {
inline constexpr std::string_view id = "id";
inline constexpr std::string_view created = "created";
}  // namespace PendingPairingKey

}  // namespace bcn
