#include "admin-app/pair_authorizer.h"

#include "protocol/admin_constants.h"

namespace bcn {

PairAuthorizer::~PairAuthorizer() {
  if (last_) services_.free(std::move(last_), AuthorizationFlags::defaults);
}

std::expected<std::vector<std::uint8_t>, PairAuthorizer::Failure> PairAuthorizer::authorize() {
  AuthorizationRef fresh;
  const std::int32_t created = services_.create(&fresh);
  if (created != AuthorizationStatus::success || !fresh) {
    if (fresh) services_.free(std::move(fresh), AuthorizationFlags::defaults);
    return std::unexpected(Failure{Failure::Kind::notCreated, created});
  }

  constexpr std::uint32_t kAskAdministrator =
      AuthorizationFlags::interactionAllowed | AuthorizationFlags::extendRights | AuthorizationFlags::preAuthorize;
  const std::int32_t granted = services_.copyRights(*fresh, AdminConstants::pairRight, kAskAdministrator);
  if (granted != AuthorizationStatus::success) {
    services_.free(std::move(fresh), AuthorizationFlags::defaults);
    const auto kind = granted == AuthorizationStatus::canceled ? Failure::Kind::cancelled : Failure::Kind::refused;
    return std::unexpected(Failure{kind, granted});
  }

  AuthorizationExternalForm form{};
  const std::int32_t made = services_.makeExternalForm(*fresh, &form);
  if (made != AuthorizationStatus::success) {
    services_.free(std::move(fresh), AuthorizationFlags::defaults);
    return std::unexpected(Failure{Failure::Kind::noExternalForm, made});
  }

  if (last_) services_.free(std::move(last_), AuthorizationFlags::destroyRights);
  last_ = std::move(fresh);
  return std::vector<std::uint8_t>(form.begin(), form.end());
}

}  // namespace bcn
