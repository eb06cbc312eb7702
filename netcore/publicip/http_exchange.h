// The minimal HTTP/1.1 client of the public address lookup: one GET over
// one fresh TCP or TLS connection forced to one IP version, read until the
// server closes, then parsed (http_response.h).
//
// get() races the exchange against a Deadline: whichever ends first wins,
// the connection is closed in every case, and get() returns only after the
// losing side has wound down. TLS sends SNI for host names and verifies the
// certificate chain against the system trust store (OpenSSL's default
// paths, so SSL_CERT_FILE and SSL_CERT_DIR apply) and the certificate
// against the URL's host. Reads are at most 64 KiB each and stop once more
// than 1,000,000 bytes have arrived; that response is parsed as received.
//
// Private to the library; its one caller is lookup (public_ip_service.h).
// Not thread-safe: a get() runs on the caller's single-threaded executor.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>

#include <asio/awaitable.hpp>
#include <asio/ssl/context.hpp>

#include "netcore/publicip/deadline.h"
#include "netcore/publicip/http_response.h"
#include "netcore/publicip/network_error.h"

namespace bcn::PublicIPService {

enum class IPVersion { v4, v6 };

inline constexpr std::size_t kReadSize = 65'536;
inline constexpr std::size_t kResponseCap = 1'000'000;

// A client context that verifies peers against the default trust store,
// made on first use, when the store is read from disk (and the environment
// consulted). Reading the store is the costly part of a TLS set-up, so one
// context serves both sides of a lookup, and plain HTTP never reads it.
class LazyTLSContext {
 public:
  // Throws std::system_error when OpenSSL cannot make a context.
  asio::ssl::context& get();

 private:
  std::optional<asio::ssl::context> context_;
};

// The body of the response to a GET of `url` over `version`. Fails with
// PublicIPError (bad URL, HTTP status, malformed response), a network
// PlatformError, timedOutError() when `deadline` expires first, or
// cancelledError() when it is cancelled first.
// REQUIRES: `tls` and `deadline` outlive the call.
asio::awaitable<std::expected<Bytes, FetchError>> get(std::string url, IPVersion version,
                                                      LazyTLSContext& tls, Deadline& deadline);

// get() to completion on a private executor, with its own TLS context and
// a deadline of `limit`: for callers outside a coroutine.
std::expected<Bytes, FetchError> getBlocking(const std::string& url, IPVersion version,
                                             BootClock::duration limit = kTimeLimit);

}  // namespace bcn::PublicIPService
