// FakeAuthorizationServices: an in-memory authorization service for tests.
// The test decides which subject holds which right; the fake records how it
// was called, so tests can see that no check happened, or which flags one
// used. External forms use the real layout.
//
// Thread-safe.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/authorization/authorization.h"

namespace bcn {

class FakeAuthorizationServices final : public AuthorizationServices {
 public:
  // Decides copyRights in place of the grants.
  using Rule = std::function<std::int32_t(const ProcessIdentity& subject, std::string_view right, std::uint32_t flags)>;

  struct Call {
    ProcessIdentity subject;
    std::string right;
    std::uint32_t flags = 0;
  };

  // `self` is the subject of authorizations made by create().
  explicit FakeAuthorizationServices(ProcessIdentity self = {1, 1, 0});

  void setRule(Rule rule);
  // Grants `right` to exactly `subject`, any flags, in addition to earlier
  // grants. Without grants or a rule, everything is refused.
  void grant(const ProcessIdentity& subject, std::string_view right);
  // Forms naming this subject are refused from now on, as for a process
  // that has exited.
  void markExited(const ProcessIdentity& subject);

  std::vector<Call> copyRightsCalls() const;
  std::vector<std::uint32_t> freeFlags() const;
  int liveAuthorizations() const;

  std::int32_t create(AuthorizationRef* out) override;
  std::int32_t copyRights(const Authorization& authorization, std::string_view right, std::uint32_t flags) override;
  std::int32_t makeExternalForm(const Authorization& authorization, AuthorizationExternalForm* out) override;
  std::int32_t createFromExternalForm(const AuthorizationExternalForm& form, AuthorizationRef* out) override;
  std::int32_t free(AuthorizationRef authorization, std::uint32_t flags) override;

 private:
  mutable std::mutex mutex_;
  ProcessIdentity self_;
  Rule rule_;
  std::set<std::pair<ProcessIdentity, std::string>> grants_;
  std::set<ProcessIdentity> exited_;
  std::vector<Call> calls_;
  std::vector<std::uint32_t> freeFlags_;
  int live_ = 0;
};

namespace testing {

// The console process the tests of the daemon and of the console's model
// grant the pair right to.
inline constexpr ProcessIdentity kConsole{4100, 777, 501};

}  // namespace testing

}  // namespace bcn
