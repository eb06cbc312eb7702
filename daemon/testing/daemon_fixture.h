// A daemon over a scratch pairing store, a fake authorization service and a
// recording log, with helpers to collect pairing replies. Test-only code.
#pragma once

#include <condition_variable>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "daemon/admin_daemon.h"
#include "daemon/testing/store_options.h"
#include "platform/authorization/fake_authorization.h"
#include "platform/log/log.h"
#include "platform/testing/test_support.h"
#include "protocol/admin_constants.h"

namespace bcn::testing {

// Collects every answer a waiter receives, so tests can see that it was
// answered exactly once and with what.
class ReplyBox {
 public:
  PairingReply reply() {
    return [box = state_](std::expected<std::string, PlatformError> answer) {
      std::lock_guard guard(box->mutex);
      box->answers.push_back(std::move(answer));
      box->changed.notify_all();
    };
  }
  std::size_t count() const {
    std::lock_guard guard(state_->mutex);
    return state_->answers.size();
  }
  std::expected<std::string, PlatformError> only() const {
    std::lock_guard guard(state_->mutex);
    if (state_->answers.size() != 1) {
      return std::unexpected(PlatformError{"test", -1, std::to_string(state_->answers.size()) + " answers"});
    }
    return state_->answers.front();
  }
  std::optional<AdminError> onlyError() const {
    auto answer = only();
    if (answer) return std::nullopt;
    return adminErrorFromPlatformError(answer.error());
  }

 private:
  struct State {
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::expected<std::string, PlatformError>> answers;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

struct DaemonFixture {
  enum class Store { writable, unwritable };

  TempDir dir;
  FakeAuthorizationServices authorization{kConsole};
  RecordingLog log;
  std::unique_ptr<AdminDaemon> daemon;

  // An unwritable store sits in a "directory" that is a plain file, so
  // every save fails with ENOTDIR.
  explicit DaemonFixture(Store store = Store::writable) {
    authorization.grant(kConsole, AdminConstants::pairRight);
    auto storeDirectory = dir.path();
    if (store == Store::unwritable) {
      storeDirectory /= "state";
      writeText(storeDirectory, "not a directory");
    }
    // Never the machine's own preferences.
    daemon = std::make_unique<AdminDaemon>(PairingStore::load(storeOptionsFor(storeDirectory)), authorization, log,
                                           netprefs::PreferencesLocation::inDirectory(dir.path() / "netprefs"));
  }

  static std::vector<std::uint8_t> formFor(const ProcessIdentity& subject) {
    auto form = encodeAuthorizationExternalForm(subject, {});
    return {form.begin(), form.end()};
  }
  std::expected<void, PlatformError> approve(const std::string& id, std::uint32_t uid = kConsole.uid) {
    ProcessIdentity console = kConsole;
    console.uid = uid;
    authorization.grant(console, AdminConstants::pairRight);
    return daemon->approvePairing(id, formFor(console), uid, console);
  }
  std::string begin(std::uint32_t uid, SessionID session) { return daemon->beginPairing(uid, session).value(); }
  std::vector<std::string> pendingIDs(std::uint32_t uid) {
    std::vector<std::string> ids;
    for (const auto& entry : daemon->pendingPairings(uid)) ids.push_back(*entry.dictionary()->find("id")->text());
    return ids;
  }
};

inline std::optional<AdminError> adminError(const std::expected<void, PlatformError>& result) {
  if (result) return std::nullopt;
  return adminErrorFromPlatformError(result.error());
}

}  // namespace bcn::testing
