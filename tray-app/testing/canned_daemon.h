// Test-only: the admin daemon's app service as the test sets it, as a
// DaemonConnector for the tray. Records every call; a pairing request is
// "R-1", "R-2"…, and its decision waits until the test gives one with
// decide() (or the waiting side cancels).
//
// Thread-safe: the tray calls it from its worker threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tray-app/daemon_link.h"

namespace bcn::tray::testing {

// A well-formed token (44 characters of padded Base64).
inline const std::string kToken = "QUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUE=";

struct CannedDaemon {
  std::mutex mutex;
  std::condition_variable_any decided;
  bool running = true;
  // While set, beginPairing waits until release() or for two seconds, its
  // time limit; deaf to cancellation, as a call in flight is.
  bool holdBegin = false;
  std::optional<std::string> switchFailure;  // the reason every switch fails with
  std::optional<std::expected<std::string, std::string>> decision;
  std::vector<std::string> calls;  // "begin", "await R-1", "switch ID on TOKEN", "unpair TOKEN", "closed"
  int requests = 0;

  void decide(std::expected<std::string, std::string> outcome) {
    {
      std::lock_guard guard(mutex);
      decision = std::move(outcome);
    }
    decided.notify_all();
  }
  void release() {
    {
      std::lock_guard guard(mutex);
      holdBegin = false;
    }
    decided.notify_all();
  }
  std::vector<std::string> recorded() {
    std::lock_guard guard(mutex);
    return calls;
  }

  struct Link : DaemonLink {
    explicit Link(CannedDaemon& daemon) : daemon(daemon) {}
    ~Link() override { note("closed"); }
    void note(std::string call) {
      std::lock_guard guard(daemon.mutex);
      daemon.calls.push_back(std::move(call));
    }
    std::expected<std::string, std::string> beginPairing() override {
      std::unique_lock lock(daemon.mutex);
      daemon.decided.wait_for(lock, std::chrono::seconds(2), [this] { return !daemon.holdBegin; });
      daemon.calls.push_back("begin");
      return "R-" + std::to_string(++daemon.requests);
    }
    std::expected<std::string, std::string> awaitPairing(const std::string& id, std::stop_token stop) override {
      std::unique_lock lock(daemon.mutex);
      daemon.calls.push_back("await " + id);
      if (!daemon.decided.wait(lock, stop, [this] { return daemon.decision.has_value(); })) {
        return std::unexpected("cancelled");
      }
      auto outcome = *daemon.decision;
      daemon.decision.reset();
      return outcome;
    }
    std::expected<void, std::string> unpair(const std::string& token) override {
      note("unpair " + token);
      return {};
    }
    std::expected<void, std::string> setServiceEnabled(const std::string& id, bool enabled,
                                                       const std::string& token) override {
      std::lock_guard guard(daemon.mutex);
      daemon.calls.push_back("switch " + id + (enabled ? " on " : " off ") + token);
      if (daemon.switchFailure) return std::unexpected(*daemon.switchFailure);
      return {};
    }
    CannedDaemon& daemon;
  };

  DaemonConnector connector() {
    return [this]() -> std::expected<std::unique_ptr<DaemonLink>, std::string> {
      std::lock_guard guard(mutex);
      if (!running) return std::unexpected("the admin daemon is not running (no socket at /run/beaconbar/app.sock)");
      return std::make_unique<Link>(*this);
    };
  }
};

}  // namespace bcn::tray::testing
