#include "platform/authorization/fake_authorization.h"

namespace bcn {

FakeAuthorizationServices::FakeAuthorizationServices(ProcessIdentity self) : self_(self) {}

void FakeAuthorizationServices::setRule(Rule rule) {
  std::lock_guard guard(mutex_);
  rule_ = std::move(rule);
}

void FakeAuthorizationServices::grant(const ProcessIdentity& subject, std::string_view right) {
  std::lock_guard guard(mutex_);
  grants_.emplace(subject, std::string(right));
}

void FakeAuthorizationServices::markExited(const ProcessIdentity& subject) {
  std::lock_guard guard(mutex_);
  exited_.insert(subject);
}

std::vector<FakeAuthorizationServices::Call> FakeAuthorizationServices::copyRightsCalls() const {
  std::lock_guard guard(mutex_);
  return calls_;
}

std::vector<std::uint32_t> FakeAuthorizationServices::freeFlags() const {
  std::lock_guard guard(mutex_);
  return freeFlags_;
}

int FakeAuthorizationServices::liveAuthorizations() const {
  std::lock_guard guard(mutex_);
  return live_;
}

std::int32_t FakeAuthorizationServices::create(AuthorizationRef* out) {
  std::lock_guard guard(mutex_);
  *out = std::make_unique<Authorization>(self_, AuthorizationNonce{});
  ++live_;
  return AuthorizationStatus::success;
}

std::int32_t FakeAuthorizationServices::copyRights(const Authorization& authorization, std::string_view right,
                                                   std::uint32_t flags) {
  Rule rule;
  {
    std::lock_guard guard(mutex_);
    calls_.push_back({authorization.subject(), std::string(right), flags});
    if (exited_.contains(authorization.subject())) return AuthorizationStatus::invalidRef;
    if (!rule_) {
      return grants_.contains({authorization.subject(), std::string(right)}) ? AuthorizationStatus::success
                                                                             : AuthorizationStatus::denied;
    }
    rule = rule_;
  }
  // Outside the mutex: a rule may block to simulate a slow dialog.
  return rule(authorization.subject(), right, flags);
}

std::int32_t FakeAuthorizationServices::makeExternalForm(const Authorization& authorization,
                                                         AuthorizationExternalForm* out) {
  *out = encodeAuthorizationExternalForm(authorization.subject(), authorization.nonce());
  return AuthorizationStatus::success;
}

std::int32_t FakeAuthorizationServices::createFromExternalForm(const AuthorizationExternalForm& form,
                                                               AuthorizationRef* out) {
  auto decoded = decodeAuthorizationExternalForm(form);
  std::lock_guard guard(mutex_);
  if (!decoded || exited_.contains(decoded->subject)) return AuthorizationStatus::invalidRef;
  *out = std::make_unique<Authorization>(decoded->subject, decoded->nonce);
  ++live_;
  return AuthorizationStatus::success;
}

std::int32_t FakeAuthorizationServices::free(AuthorizationRef authorization, std::uint32_t flags) {
  std::lock_guard guard(mutex_);
  if (authorization) --live_;
  freeFlags_.push_back(flags);
  return AuthorizationStatus::success;
}

}  // namespace bcn
