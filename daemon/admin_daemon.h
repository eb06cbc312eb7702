// AdminDaemon: the daemon's single broker, shared by every connection. It
// owns the pairing store and the one lock that guards it; the store's file
// write happens under that lock, which serialises every change.
//
// Thread-safe: any method may be called from any connection's thread. No
// caller-supplied callback is ever invoked while the lock is held.
#pragma once

#include <cstdint>
#include <expected>
#include <mutex>
#include <string>
#include <string_view>

#include "daemon/pairing_store.h"
#include "platform/error.h"

namespace bcn {

// The daemon's short version from its Info.plist
// ("CFBundleShortVersionString"), or "0" when it is missing or not text.
// Computed once, on first use.
const std::string& daemonVersion();

class AdminDaemon {
 public:
  explicit AdminDaemon(PairingStore store);
  AdminDaemon(const AdminDaemon&) = delete;
  AdminDaemon& operator=(const AdminDaemon&) = delete;

  // Whether `token` pairs `uid`, read under the lock.
  bool isPaired(std::string_view token, std::uint32_t uid);

  // Forgets the caller's own pairing for `token`. An unknown token, or one
  // of another user, is not an error: nothing is removed and the file is
  // rewritten unchanged. Fails only when the file cannot be saved.
  std::expected<void, PlatformError> unpair(std::string_view token, std::uint32_t uid);

 private:
  std::mutex lock_;
  PairingStore store_;  // guarded by lock_
};

}  // namespace bcn
