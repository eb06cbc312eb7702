// PublicIPError: the ways a public address lookup can fail on its own
// account, as opposed to failures of the network underneath (those are
// PlatformErrors, see http_exchange.h). Each case has a fixed English
// description, which is what a lookup reports as its error text.
//
// Plain value: copyable, comparable, hashable; thread-safe.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>

#include "netcore/export.h"

namespace bcn {

struct NETCORE_EXPORT PublicIPError {
  enum class Kind {
    http,       // status outside 200-299, or none readable (status 0)
    badURL,     // no host or scheme, a scheme other than http/https, or an impossible port
    malformed,  // no header/body separator, or a broken chunked body
    noAddress,  // the body holds no recognisable address
  };

  Kind kind = Kind::malformed;
  std::int64_t status = 0;  // meaningful for Kind::http only; 0 otherwise

  static PublicIPError http(std::int64_t status) { return {Kind::http, status}; }
  static PublicIPError badURL() { return {Kind::badURL, 0}; }
  static PublicIPError malformed() { return {Kind::malformed, 0}; }
  static PublicIPError noAddress() { return {Kind::noAddress, 0}; }

  // "The server answered HTTP 404", "The lookup URL isn't valid",
  // "The server's response couldn't be read", "The response has no IP address".
  std::string description() const;

  bool operator==(const PublicIPError&) const = default;
  auto operator<=>(const PublicIPError&) const = default;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::PublicIPError> {
  std::size_t operator()(const bcn::PublicIPError& e) const noexcept;
};
