// PolkitAuthorizationServices: authorization through polkit's `pkcheck`.
// A right is a polkit action id; the subject process is passed to pkcheck
// as pid,start-time,uid, which polkit itself checks against the live
// process, so a form naming a process that was since replaced is refused.
//
// An authorization holds no rights of its own: every check asks polkitd
// afresh. What an administrator grants under auth_admin_keep polkit keeps
// for the subject process, so every authorization that process creates
// (they all name it) rests on the same grant, the one behind a form handed
// to the daemon a moment ago included; and polkit can only revoke such
// grants wholesale, per login session (`pkcheck --revoke-temp`). free()
// with destroyRights therefore releases the reference and revokes nothing;
// a kept grant ends when polkit's keep period does.
//
// Thread-safe: every call runs its own pkcheck process. copyRights blocks
// until pkcheck answers or its time limit passes; with interaction allowed
// that includes the time the user spends in the authentication dialog.
#pragma once

#include <chrono>
#include <string>

#include "platform/authorization/authorization.h"
#include "platform/subprocess.h"

namespace bcn {

class PolkitAuthorizationServices final : public AuthorizationServices {
 public:
  struct Options {
    std::string pkcheck = "pkcheck";
    std::chrono::milliseconds checkTimeout{25'000};
    std::chrono::milliseconds interactiveTimeout{300'000};
  };

  PolkitAuthorizationServices() = default;
  explicit PolkitAuthorizationServices(Options options) : options_(std::move(options)) {}

  std::int32_t create(AuthorizationRef* out) override;
  std::int32_t copyRights(const Authorization& authorization, std::string_view right, std::uint32_t flags) override;
  std::int32_t makeExternalForm(const Authorization& authorization, AuthorizationExternalForm* out) override;
  std::int32_t createFromExternalForm(const AuthorizationExternalForm& form, AuthorizationRef* out) override;
  std::int32_t free(AuthorizationRef authorization, std::uint32_t flags) override;

  // pkcheck's outcome as a status: exit 0 → success; 1 → denied, or
  // canceled when polkit reports the dialog as dismissed; 2 (a challenge
  // the user may not be shown) → interactionNotAllowed; 3 (dismissed) →
  // canceled; anything else, a signal or the time limit → internal.
  static std::int32_t statusFromPkcheck(const ProcessResult& result);

 private:
  Options options_;
};

}  // namespace bcn
