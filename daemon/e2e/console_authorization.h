// Test-only: what the admin console does before an approval — obtain the
// pair right for this process from polkit (interaction allowed) and turn
// it into the 32-byte external form the daemon checks. Shared by the test
// clients that act as the console.
#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "platform/authorization/polkit_authorization.h"
#include "platform/error.h"
#include "protocol/admin_constants.h"

namespace bcn::testing {

inline std::expected<std::vector<std::uint8_t>, PlatformError> authorizeConsole() {
  PolkitAuthorizationServices services;
  AuthorizationRef authorization;
  AuthorizationExternalForm form{};
  std::int32_t status = services.create(&authorization);
  if (status == 0) {
    status = services.copyRights(
        *authorization, AdminConstants::pairRight,
        AuthorizationFlags::interactionAllowed | AuthorizationFlags::extendRights | AuthorizationFlags::preAuthorize);
  }
  if (status == 0) status = services.makeExternalForm(*authorization, &form);
  if (status != 0) return std::unexpected(PlatformError{"authorization", status, "authorization failed"});
  return std::vector<std::uint8_t>(form.begin(), form.end());
}

}  // namespace bcn::testing
