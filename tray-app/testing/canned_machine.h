// Test-only: a machine whose readings the test sets, as TraySources for a
// TrayModel. Starts with en0 (Ethernet), lo and utun3 of the command line's
// fixtures, no configuration, no pins and no history file; each interface's fingerprint key
// is "key-" and its name.
#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/beaconbar/testing/model_fixtures.h"
#include "tray-app/tray_model.h"

namespace bcn::tray::testing {

inline InterfaceFingerprint fingerprint(const std::string& key, const std::string& name) {
  InterfaceFingerprint f;
  f.key = key;
  f.name = name;
  return f;
}

// The machine as the test sets it: what each source returns now.
struct CannedMachine {
  std::vector<InterfaceSnapshot> interfaces{cli::testing::ethernet(), cli::testing::loopback(), cli::testing::tunnel()};
  NetworkMetadata configuration;
  std::expected<std::vector<InterfaceFingerprint>, std::string> pins = std::vector<InterfaceFingerprint>{};
  double now = 1000;
  std::filesystem::path historyFile;
  int fingerprintReads = 0;

  // The subscription the model's watcher opens; fire() notifies as the
  // store's thread would.
  std::mutex mutex;
  dynstore::ChangeCallback callback;
  struct Subscription : dynstore::StoreSubscription {
    explicit Subscription(CannedMachine& machine) : machine(machine) {}
    ~Subscription() override {
      std::lock_guard guard(machine.mutex);
      machine.callback = nullptr;
    }
    CannedMachine& machine;
  };
  void fire(std::vector<std::string> keys) {
    std::lock_guard guard(mutex);
    if (callback) callback(std::move(keys));
  }

  void count(const std::string& name, std::uint64_t in, std::uint64_t out) {
    for (InterfaceSnapshot& s : interfaces) {
      if (s.name == name) s.counters = {.bytesIn = in, .bytesOut = out};
    }
  }

  TraySources sources() {
    return {
        .interfaces = [this] { return interfaces; },
        .fingerprints =
            [this](const std::vector<InterfaceSnapshot>& snapshots) {
              ++fingerprintReads;
              std::vector<InterfaceFingerprint> result;
              for (const InterfaceSnapshot& s : snapshots) result.push_back(fingerprint("key-" + s.name, s.name));
              return result;
            },
        .configuration = [this] { return configuration; },
        .pins = [this] { return pins; },
        .subscriber =
            [this](std::string_view, dynstore::NotificationKeys, dynstore::ChangeCallback changed) {
              std::lock_guard guard(mutex);
              callback = std::move(changed);
              return std::make_unique<Subscription>(*this);
            },
        .now = [this] { return Date{now}; },
        .historyFile = historyFile,
    };
  }
};

}  // namespace bcn::tray::testing
