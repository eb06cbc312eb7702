// The errors of the network underneath a lookup, as PlatformErrors in the
// domains the system uses for network failures: POSIX errors from sockets,
// name-resolution errors, TLS errors, and the two outcomes of the time
// limit (timed out, cancelled). Each description is the system's own
// message, which is what the lookup shows when both sides fail.
//
// A FetchError is either such a PlatformError or a PublicIPError.
//
// Plain values and pure functions; thread-safe.
#pragma once

#include <exception>
#include <string>
#include <system_error>
#include <variant>

#include "netcore/publicip/public_ip_error.h"
#include "platform/error.h"

namespace bcn::PublicIPService {

using FetchError = std::variant<PublicIPError, PlatformError>;

inline constexpr const char* kPOSIXNetworkDomain = "kNWErrorDomainPOSIX";
inline constexpr const char* kDNSDomain = "kNWErrorDomainDNS";
inline constexpr const char* kTLSDomain = "kNWErrorDomainTLS";
inline constexpr const char* kURLDomain = "NSURLErrorDomain";

// NSURLErrorDomain, -1001, "The request timed out."
PlatformError timedOutError();
// NSCocoaErrorDomain, 3072, "The operation was cancelled."
PlatformError cancelledError();
// A getaddrinfo failure (EAI_* code) with gai_strerror's text, or for
// EAI_SYSTEM the text of `systemErrno`, the errno getaddrinfo left.
PlatformError resolutionError(int gaiCode, int systemErrno);
// A socket failure: POSIX domain, the errno value, the system's message.
PlatformError socketError(const std::error_code& error);

// An exception that escaped the exchange (in practice, memory exhaustion),
// as an error value: NSCocoaErrorDomain, 4 (unknown), its what() text.
PlatformError escapedException(const std::exception_ptr& exception);

// What the error describes itself as: PublicIPError::description() or the
// PlatformError's description.
std::string describe(const FetchError& error);

}  // namespace bcn::PublicIPService
