// PairingFileWatcher: reads the daemon's pairing file over and over on a
// thread of its own while the daemon rewrites it, counting every read that
// found the file missing, unreadable or malformed. Atomic replacement means
// there is never such a moment once the file exists.
//
// Test-only. The counters may be read from any thread.
#pragma once

#include <atomic>
#include <filesystem>
#include <thread>

namespace bcn::load {

class PairingFileWatcher {
 public:
  explicit PairingFileWatcher(std::filesystem::path path);
  ~PairingFileWatcher();
  PairingFileWatcher(const PairingFileWatcher&) = delete;
  PairingFileWatcher& operator=(const PairingFileWatcher&) = delete;

  std::size_t reads() const { return reads_; }
  std::size_t bad() const { return bad_; }

 private:
  void watch();

  std::filesystem::path path_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> reads_{0};
  std::atomic<std::size_t> bad_{0};
  std::thread thread_;
};

// While it lives, processes started from here run AddressSanitizer with a
// small quarantine. ASan keeps freed memory in a quarantine of 256 MiB
// before reusing it, so a daemon's resident size would climb for a long
// while whatever it does; with a small one the size follows what is really
// in use. Changes this process's environment: one at a time.
class ScopedAsanQuarantine {
 public:
  ScopedAsanQuarantine();
  ~ScopedAsanQuarantine();
  ScopedAsanQuarantine(const ScopedAsanQuarantine&) = delete;
  ScopedAsanQuarantine& operator=(const ScopedAsanQuarantine&) = delete;

 private:
  bool hadOptions_ = false;
  std::string saved_;
};

}  // namespace bcn::load
