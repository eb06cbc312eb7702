// JSON forms of the keyed values (TunnelOwner, InterfaceFingerprint), for
// the command-line tool and the tests. Kept out of the values' own headers
// so that programs using those types need no JSON library; the encoding
// rules are the ones described there.
//
// Pure functions; thread-safe.
#pragma once

#include <expected>

#include <nlohmann/json_fwd.hpp>

#include "netcore/sysconfig/interface_fingerprint.h"
#include "netcore/sysconfig/tunnel_owner.h"
#include "platform/error.h"

namespace bcn {

nlohmann::ordered_json toJson(const TunnelOwner& owner);
std::expected<TunnelOwner, PlatformError> tunnelOwnerFromJson(const nlohmann::ordered_json& encoded);

nlohmann::ordered_json toJson(const InterfaceFingerprint& fingerprint);
std::expected<InterfaceFingerprint, PlatformError> fingerprintFromJson(const nlohmann::ordered_json& encoded);

}  // namespace bcn
