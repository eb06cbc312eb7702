// The administrator-authorization service, shaped like the calls both of
// our programs make: the console creates an authorization, obtains a right
// for it (possibly asking the user), and hands its 32-byte external form to
// the daemon; the daemon turns the form back into an authorization and asks,
// without any interaction, whether it holds that right.
//
// Every call returns a status: 0 on success, otherwise one of the negative
// codes below. Implementations: PolkitAuthorizationServices (the real one)
// and FakeAuthorizationServices (tests).
//
// An authorization speaks for one process (its subject). The external form
// carries that subject — pid, start time, real uid — and 12 random bytes:
//   "BCNA" | pid (4, LE) | start time (8, LE) | uid (4, LE) | random (12)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "platform/authorization/process_identity.h"

namespace bcn {

namespace AuthorizationStatus {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t invalidRef = -60002;
inline constexpr std::int32_t denied = -60005;
inline constexpr std::int32_t canceled = -60006;
inline constexpr std::int32_t interactionNotAllowed = -60007;
inline constexpr std::int32_t internal = -60008;
inline constexpr std::int32_t invalidFlags = -60011;
}  // namespace AuthorizationStatus

namespace AuthorizationFlags {
inline constexpr std::uint32_t defaults = 0;
inline constexpr std::uint32_t interactionAllowed = 1;
inline constexpr std::uint32_t extendRights = 2;
inline constexpr std::uint32_t partialRights = 4;
inline constexpr std::uint32_t destroyRights = 8;
inline constexpr std::uint32_t preAuthorize = 16;
}  // namespace AuthorizationFlags

inline constexpr std::size_t kAuthorizationExternalFormLength = 32;
using AuthorizationExternalForm = std::array<std::uint8_t, kAuthorizationExternalFormLength>;
using AuthorizationNonce = std::array<std::uint8_t, 12>;

// One authorization. Owns the pidfd of its subject when it has one, which
// keeps a later check from mistaking a new process with a reused pid for
// the subject. Not copyable; not thread-safe.
class Authorization {
 public:
  Authorization(ProcessIdentity subject, AuthorizationNonce nonce, int pidfd = -1);
  ~Authorization();
  Authorization(const Authorization&) = delete;
  Authorization& operator=(const Authorization&) = delete;

  const ProcessIdentity& subject() const { return subject_; }
  const AuthorizationNonce& nonce() const { return nonce_; }
  // Whether the subject is known to have exited (only knowable with a pidfd).
  bool subjectExited() const;

 private:
  ProcessIdentity subject_;
  AuthorizationNonce nonce_;
  int pidfd_;
};

using AuthorizationRef = std::unique_ptr<Authorization>;

// The service. Implementations are thread-safe: the daemon checks several
// connections' authorizations at once.
class AuthorizationServices {
 public:
  virtual ~AuthorizationServices() = default;

  // A new authorization for the calling process, holding no rights.
  virtual std::int32_t create(AuthorizationRef* out) = 0;

  // Asks whether `authorization` holds `right`. `flags` combines
  // interactionAllowed (the user may be asked), extendRights and
  // preAuthorize. May block for as long as the user takes to answer.
  virtual std::int32_t copyRights(const Authorization& authorization, std::string_view right, std::uint32_t flags) = 0;

  virtual std::int32_t makeExternalForm(const Authorization& authorization, AuthorizationExternalForm* out) = 0;

  // Rebuilds an authorization from its external form; fails with
  // invalidRef when the form is malformed or its subject no longer exists.
  virtual std::int32_t createFromExternalForm(const AuthorizationExternalForm& form, AuthorizationRef* out) = 0;

  // Releases `authorization`; with destroyRights, also forgets what the
  // user granted to it and to no other authorization (an implementation
  // whose grants are shared cannot forget them, and says so).
  virtual std::int32_t free(AuthorizationRef authorization, std::uint32_t flags) = 0;
};

// The external form's byte layout, shared by every implementation.
AuthorizationExternalForm encodeAuthorizationExternalForm(const ProcessIdentity& subject,
                                                          const AuthorizationNonce& nonce);
struct DecodedExternalForm {
  ProcessIdentity subject;
  AuthorizationNonce nonce;
};
// Nothing when the magic is wrong or the pid is not positive.
std::optional<DecodedExternalForm> decodeAuthorizationExternalForm(const AuthorizationExternalForm& form);

}  // namespace bcn
