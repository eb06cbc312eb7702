// The errors the IPC layer itself reports, beside whatever a method answers.
// They keep the domain and codes the original connection errors had, so a
// client can tell "the service went away" from a method's own failure.
#pragma once

#include <cerrno>

#include "platform/error.h"

namespace bcn::ipc {

// The connection ended while the call was waiting for its reply.
inline PlatformError connectionInterrupted() {
  return {PlatformError::kCocoaDomain, 4097, "The connection to the service was interrupted."};
}

// The call was made on a connection that was already closed.
inline PlatformError connectionInvalid() {
  return {PlatformError::kCocoaDomain, 4099, "The connection to the service was invalidated."};
}

// The reply did not have the shape the method promises.
inline PlatformError replyInvalid() {
  return {PlatformError::kCocoaDomain, 4101, "The reply from the service was not valid."};
}

// The service produced values that cannot travel (sent in place of them).
inline PlatformError replyNotEncodable() {
  return {PlatformError::kCocoaDomain, 4866, "The reply could not be encoded."};
}

// The server refused the connection: its user already holds as many as the
// server allows. Sent as the reply to sequence 0 before the server closes.
inline PlatformError connectionLimitReached() {
  return {PlatformError::kPosixDomain, EAGAIN, "Too many connections from this user; close one and try again."};
}

// The server refused the connection because it holds as many as it keeps
// for everyone together; some other client must close first. Sent like
// connectionLimitReached().
inline PlatformError serviceBusy() {
  return {PlatformError::kPosixDomain, EBUSY, "The service has too many connections open; try again later."};
}

// A synchronous call gave up waiting.
inline PlatformError timedOut() { return PlatformError::fromErrno(ETIMEDOUT, "wait for IPC reply"); }

}  // namespace bcn::ipc
