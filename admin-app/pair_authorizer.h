// PairAuthorizer: obtains the pair right for the console, asking the
// administrator when needed, and keeps the authorization behind the last
// external form it handed out.
//
// The daemon re-creates its own reference from the form when the form
// arrives, so the reference stays alive after the form has been sent: it is
// freed (with destroy-rights) only when a later authorization succeeds.
// Destroying its rights never touches the newer one; where the system
// keeps an administrator's grant for the whole session (polkit's
// auth_admin_keep), the newer one rests on that grant and it stays. Cancelled or refused attempts free only
// their own reference and leave the kept one alone.
//
// Not thread-safe: the console calls it on its GUI thread, where the
// administrator's dialog blocks. The service must outlive the authorizer.
#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "platform/authorization/authorization.h"

namespace bcn {

class PairAuthorizer {
 public:
  struct Failure {
    enum class Kind {
      cancelled,       // the administrator dismissed the dialog
      refused,         // the right was denied or could not be checked
      notCreated,      // no authorization could be created
      noExternalForm,  // granted, but the form could not be made
    };
    Kind kind;
    std::int32_t status;  // the service's status for the failing step
  };

  explicit PairAuthorizer(AuthorizationServices& services) : services_(services) {}
  // Releases the kept authorization without destroying its rights.
  ~PairAuthorizer();
  PairAuthorizer(const PairAuthorizer&) = delete;
  PairAuthorizer& operator=(const PairAuthorizer&) = delete;

  // A fresh authorization holding the pair right, with user interaction;
  // its 32-byte external form on success.
  std::expected<std::vector<std::uint8_t>, Failure> authorize();

  // The authorization behind the last form handed out, if any.
  const Authorization* lastAuthorization() const { return last_.get(); }

 private:
  AuthorizationServices& services_;
  AuthorizationRef last_;
};

}  // namespace bcn
