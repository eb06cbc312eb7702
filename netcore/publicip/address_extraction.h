// Finding the caller's address in an echo service's answer, which is either
// the address as plain text or a JSON object holding it.
//
// Pure functions; thread-safe. Bodies may be any bytes (not UTF-8, not
// JSON, deeply nested, large): the answer is then simply "no address".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "netcore/export.h"

namespace bcn::PublicIPService {

// True when `text` is an IPv4 dotted quad or an IPv6 address as inet_pton
// reads them. Nothing is trimmed; zone suffixes, brackets, ports and
// embedded NUL characters make it false.
NETCORE_EXPORT bool isIPAddress(std::string_view text);

// 1. The whole body, trimmed of Unicode white space and line breaks at both
//    ends, if that is an address (the key path plays no part here).
// 2. Else the body as JSON (an object or array at the top level):
//    - with a non-empty key path: split at "." (empty pieces dropped), walk
//      object members from the top (arrays are not indexed); the value
//      reached must be a string holding an address, untrimmed;
//    - without one: the first of "ip", "ip_addr", "address", "query",
//      "ipAddress", "origin" in a top-level object whose value is a string
//      holding an address, untrimmed. Nested objects are not searched.
std::optional<std::string> extractAddress(std::span<const std::uint8_t> body,
                                          std::optional<std::string_view> jsonKeyPath);

}  // namespace bcn::PublicIPService
