#include <cerrno>
#include <string>
#include <vector>

#include "platform/authorization/polkit_authorization.h"
#include "platform/crypto.h"

namespace bcn {
namespace {

constexpr std::uint32_t kKnownFlags = AuthorizationFlags::interactionAllowed | AuthorizationFlags::extendRights |
                                      AuthorizationFlags::partialRights | AuthorizationFlags::destroyRights |
                                      AuthorizationFlags::preAuthorize;

std::optional<AuthorizationNonce> randomNonce() {
  auto bytes = crypto::secureRandomBytes(AuthorizationNonce{}.size());
  if (!bytes) return std::nullopt;
  AuthorizationNonce nonce{};
  std::copy(bytes->begin(), bytes->end(), nonce.begin());
  return nonce;
}

}  // namespace

std::int32_t PolkitAuthorizationServices::statusFromPkcheck(const ProcessResult& result) {
  if (result.timedOut || !result.exited()) return AuthorizationStatus::internal;
  switch (result.exitCode) {
    case 0:
      return AuthorizationStatus::success;
    case 1:
      // Details come as KEY=VALUE lines on standard output, with every byte
      // outside [A-Za-z0-9_] of a key escaped in octal ("." is "\56").
      if (auto details = "\n" + result.standardOutput;
          details.find("\npolkit\\56dismissed=true") != std::string::npos ||
          details.find("\npolkit.dismissed=true") != std::string::npos) {
        return AuthorizationStatus::canceled;
      }
      return AuthorizationStatus::denied;
    case 2:
      return AuthorizationStatus::interactionNotAllowed;
    case 3:
      return AuthorizationStatus::canceled;
    default:
      return AuthorizationStatus::internal;
  }
}

std::int32_t PolkitAuthorizationServices::create(AuthorizationRef* out) {
  auto self = ProcessIdentity::ofSelf();
  auto nonce = randomNonce();
  if (!self || !nonce) return AuthorizationStatus::internal;
  *out = std::make_unique<Authorization>(*self, *nonce);
  return AuthorizationStatus::success;
}

std::int32_t PolkitAuthorizationServices::copyRights(const Authorization& authorization, std::string_view right,
                                                     std::uint32_t flags) {
  if ((flags & ~kKnownFlags) != 0) return AuthorizationStatus::invalidFlags;
  if (authorization.subjectExited()) return AuthorizationStatus::invalidRef;
  const ProcessIdentity& s = authorization.subject();
  std::vector<std::string> argv{
      options_.pkcheck, "--action-id", std::string(right), "--process",
      std::to_string(s.pid) + "," + std::to_string(s.startTime) + "," + std::to_string(s.uid)};
  bool interactive = (flags & AuthorizationFlags::interactionAllowed) != 0;
  if (interactive) argv.push_back("--allow-user-interaction");
  auto result = runProcess(argv, {.timeout = interactive ? options_.interactiveTimeout : options_.checkTimeout});
  if (!result) return AuthorizationStatus::internal;
  return statusFromPkcheck(*result);
}

std::int32_t PolkitAuthorizationServices::makeExternalForm(const Authorization& authorization,
                                                           AuthorizationExternalForm* out) {
  *out = encodeAuthorizationExternalForm(authorization.subject(), authorization.nonce());
  return AuthorizationStatus::success;
}

std::int32_t PolkitAuthorizationServices::createFromExternalForm(const AuthorizationExternalForm& form,
                                                                 AuthorizationRef* out) {
  auto decoded = decodeAuthorizationExternalForm(form);
  if (!decoded) return AuthorizationStatus::invalidRef;
  // Hold the process before looking at it, so the identity read below and
  // every later check are about this very process.
  int pidfd = openPidfd(decoded->subject.pid);
  if (pidfd < 0 && errno != ENOSYS) return AuthorizationStatus::invalidRef;
  auto live = ProcessIdentity::of(decoded->subject.pid);
  auto authorization = std::make_unique<Authorization>(decoded->subject, decoded->nonce, pidfd);
  if (!live || *live != decoded->subject || authorization->subjectExited()) return AuthorizationStatus::invalidRef;
  *out = std::move(authorization);
  return AuthorizationStatus::success;
}

std::int32_t PolkitAuthorizationServices::free(AuthorizationRef authorization, std::uint32_t flags) {
  if ((flags & ~kKnownFlags) != 0) return AuthorizationStatus::invalidFlags;
  // Nothing to revoke, even with destroyRights: see the header. In
  // particular not `pkcheck --revoke-temp`, which would end the session's
  // kept grant that the caller's newer authorization relies on.
  authorization.reset();
  return AuthorizationStatus::success;
}

}  // namespace bcn
