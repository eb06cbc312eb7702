// AdminDaemon: the daemon's single broker, shared by every connection. It
// owns the pairing store, the table of open pairing requests and the one
// lock that guards both; the store's file write happens under that lock,
// which serialises every change.
//
// The pairing handshake: an app opens a request (beginPairing) and waits on
// it (awaitPairing); an administrator of the same user lists the requests
// (pendingPairings) and approves or denies one. Approval records a pairing
// and hands its token to the waiting app. Requests have no time limit: one
// leaves the table when approved, denied, superseded by a newer request of
// the same user, or when the session that opened it ends.
//
// Thread-safe: any method may be called from any connection's thread. No
// reply or other caller-supplied callback is ever invoked while the lock is
// held, so a reply may call back into the daemon. Authorization checks run
// before the lock is taken.
//
// Lifetimes: the authorization service and the log must outlive the daemon.
// Service switches act on the network preferences at the location given at
// construction (the system's by default).
#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/pairing_store.h"
#include "daemon/rate_limiter.h"
#include "platform/authorization/authorization.h"
#include "platform/date.h"
#include "platform/error.h"
#include "platform/log/log.h"
#include "platform/netprefs/network_preferences.h"
#include "platform/plist.h"
#include "protocol/admin_error.h"

namespace bcn {

// The daemon's short version from its Info.plist
// ("CFBundleShortVersionString"), or "0" when it is missing or not text.
// Computed once, on first use.
const std::string& daemonVersion();

// The answer to a pairing wait: the new token, or why there is none.
using PairingReply = std::function<void(std::expected<std::string, PlatformError>)>;

// Identity of the connection session that opened a request; compared only.
using SessionID = std::uint64_t;

class AdminDaemon {
 public:
  struct PendingPairing {
    std::string id;
    std::uint32_t uid = 0;
    Date created;
    SessionID session = 0;
    PairingReply waiter;  // empty until the opening session waits
  };

  AdminDaemon(PairingStore store, AuthorizationServices& authorization, Log& log,
              netprefs::PreferencesLocation preferences = netprefs::PreferencesLocation::systemDefault());
  AdminDaemon(const AdminDaemon&) = delete;
  AdminDaemon& operator=(const AdminDaemon&) = delete;

  // Whether `token` pairs `uid`. Never waits for the lock (and so for a
  // file write): it reads the pairings as the last change left them.
  bool isPaired(std::string_view token, std::uint32_t uid) const;

  // Forgets the caller's own pairing for `token`. An unknown token, or one
  // of another user, is not an error: nothing is removed and, the file being
  // current, nothing is written. Fails only when the file cannot be saved.
  std::expected<void, PlatformError> unpair(std::string_view token, std::uint32_t uid);

  // Switches a network service for a paired app. The token is checked under
  // the lock; the preferences work runs outside it, waiting for the
  // machine-wide preferences lock. Errors: notPaired (the preferences are
  // not touched), unknownService (also for hidden services),
  // configurationFailed (logged with the reason: the file or kernel error
  // text, and whether the saved preferences were restored).
  std::expected<void, PlatformError> setServiceEnabled(std::string_view serviceID, bool enabled, std::string_view token,
                                                       std::uint32_t uid);

  // Opens a request for `uid` owned by `session` and returns its identifier
  // (an upper-case UUID). Every older request of that user is dropped and
  // its waiter, if any, answered with unknownRequest. Fails only when the
  // system's random source does.
  std::expected<std::string, PlatformError> beginPairing(std::uint32_t uid, SessionID session);

  // Makes `reply` the waiter of request `id`, replacing (and answering with
  // unknownRequest) an earlier waiter. A request that does not exist or was
  // opened by another session is answered at once with unknownRequest.
  void awaitPairing(std::string_view id, SessionID session, PairingReply reply);

  // The open requests of `uid`, oldest first: dictionaries with exactly the
  // keys "id" (text) and "created" (date).
  PlistArray pendingPairings(std::uint32_t uid);

  // Approves request `id` for the console user `approverUID`. `authorization`
  // is the console's external authorization form; it must hold the pair
  // right and name `approverProcess`, the console connection's own process.
  // The request, the form's size and its subject are checked before polkit
  // is asked, and polkit is asked for one user at most at the pace of
  // kPairRightChecks; beyond it the answer is authorizationFailed without
  // asking. Errors: unknownRequest, wrongUser (the request stays),
  // authorizationFailed, or the store's error (the request is gone and its
  // waiter gets the same error).
  std::expected<void, PlatformError> approvePairing(std::string_view id, std::span<const std::uint8_t> authorization,
                                                    std::uint32_t approverUID, const ProcessIdentity& approverProcess);

  // Refuses request `id`; its waiter gets authorizationFailed. Errors:
  // unknownRequest, wrongUser (the request stays).
  std::expected<void, PlatformError> denyPairing(std::string_view id, std::uint32_t approverUID);

  // Drops the requests `session` opened; their waiters are discarded
  // without a call, since the connection that would carry them is gone.
  void sessionEnded(SessionID session);

  // Revokes every pairing, given an authorization that holds the pair right
  // for `callerProcess`, paced per `callerUID` as approval is. Open
  // requests stay. Errors: authorizationFailed, or the store's error (the
  // pairings are then gone from memory only).
  std::expected<void, PlatformError> unpairAll(std::span<const std::uint8_t> authorization,
                                               const ProcessIdentity& callerProcess, std::uint32_t callerUID);

  // How often one user may have polkit asked (each ask runs pkcheck).
  static constexpr RateLimiter::Rate kPairRightChecks{.burst = 10, .perSecond = 1};
  // How often one user may add a line to the log by calls anyone may make
  // at will (opening requests). Approvals, revocations and service switches
  // are always logged.
  static constexpr RateLimiter::Rate kUserLogLines{.burst = 20, .perSecond = 2};

 private:
  // Never touches the lock; may block while polkit evaluates the right.
  // `uid` is what the ask is counted against.
  std::expected<void, AdminError> verifyPairRight(std::span<const std::uint8_t> authorization,
                                                  const ProcessIdentity& callerProcess, std::uint32_t uid);

  // Logs `message`, a line `uid` can cause at will, within kUserLogLines;
  // the first line let through after a refused run says how many were lost.
  void logChatter(std::uint32_t uid, std::string message);

  // Removes request `id` of `approverUID` from the table and hands over its
  // waiter (possibly empty). REQUIRES: lock_ held.
  std::expected<PairingReply, AdminError> takeRequest(std::string_view id, std::uint32_t approverUID);

  AuthorizationServices& authorization_;
  Log& log_;
  const netprefs::PreferencesLocation preferences_;

  RateLimiter pairRightChecks_{kPairRightChecks};
  RateLimiter logLines_{kUserLogLines};

  // Replaces the copy isPaired() reads with the store's pairings now.
  // REQUIRES: lock_ held, after every change to store_.
  void publishPairings();

  std::mutex lock_;
  PairingStore store_;                   // guarded by lock_
  std::vector<PendingPairing> pending_;  // guarded by lock_, in opening order
  // Written under lock_, read without it.
  std::atomic<std::shared_ptr<const std::vector<PairingStore::Pairing>>> published_;
};

}  // namespace bcn
