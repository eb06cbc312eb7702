// LookupRequest: what one lookup sends, worked out from the lookup URL
// before any connection exists. The URL is split by uriparser; everything
// is taken in its percent-encoded form, exactly as written in the URL.
//
// The request is a fixed HTTP/1.1 GET with four headers (Host, User-Agent,
// Accept, Connection: close) and no body. The Host header carries the host,
// and ":port" after it when the port is not the scheme's default (a URL
// that spells out the default port, or leaves it empty, sends the bare
// host); an IPv6 literal keeps its brackets there, since a bare "::1" is
// not a valid Host value.
//
// Pure functions over text; thread-safe.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "netcore/publicip/public_ip_error.h"

namespace bcn {

struct LookupRequest {
  bool tls = false;       // "https"
  std::string host;       // for name resolution and TLS checks; IPv6 literals without brackets
  std::string hostHeader;  // the Host header's value: the host (IPv6 literals in brackets), ":port" unless default
  bool ipLiteral = false;  // the host is an IP literal, not a name
  std::uint16_t port = 0;  // the URL's port, else 443 for https and 80 for http
  std::string target;     // path ("/" when empty), then "?" and the query if the URL has one

  // The request as sent, byte for byte.
  std::string bytes() const;

  bool operator==(const LookupRequest&) const = default;
};

// Fails with PublicIPError::badURL when the text is not a URI, has no host
// or an empty one, has no scheme or one other than "http" or "https" (in
// any letter case), or names a port above 65535. The fragment is dropped.
std::expected<LookupRequest, PublicIPError> makeLookupRequest(std::string_view url);

}  // namespace bcn
