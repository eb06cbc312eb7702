// Test-only: a machine whose readings the test sets, as TraySources for a
// TrayModel. Starts with en0 (Ethernet), lo and utun3 of the command line's
// fixtures, no configuration, no pins and no history file; each interface's fingerprint key
// is "key-" and its name. Public address lookups answer 203.0.113.7 and
// 2001:db8::7 at once unless held; tunnel owners are utun3's WireGuard;
// the daemon is a CannedDaemon and no token file is set.
#pragma once

#include <condition_variable>
#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/beaconbar/testing/model_fixtures.h"
#include "tray-app/testing/canned_daemon.h"
#include "tray-app/tray_model.h"

namespace bcn::tray::testing {

inline InterfaceFingerprint fingerprint(const std::string& key, const std::string& name) {
  InterfaceFingerprint f;
  f.key = key;
  f.name = name;
  return f;
}

inline NetworkService service(const std::string& id, const std::string& name, bool enabled, bool hidden = false) {
  NetworkService s;
  s.id = id;
  s.name = name;
  s.enabled = enabled;
  s.hidden = hidden;
  return s;
}

// The machine as the test sets it: what each source returns now.
struct CannedMachine {
  std::vector<InterfaceSnapshot> interfaces{cli::testing::ethernet(), cli::testing::loopback(), cli::testing::tunnel()};
  NetworkMetadata configuration;
  std::expected<std::vector<InterfaceFingerprint>, std::string> pins = std::vector<InterfaceFingerprint>{};
  double now = 1000;
  std::filesystem::path historyFile;
  int fingerprintReads = 0;

  // What the worker threads see, under `mutex`.
  cli::PublicAddressReport publicAddresses{"Echo A", "https://a.example/", {"203.0.113.7", "2001:db8::7", {}}};
  std::vector<std::string> lookups;  // the provider of each lookup started
  // While set, lookups wait until it is cleared (release()) or they are stopped.
  bool holdLookups = false;
  std::condition_variable_any lookupReleased;
  std::expected<cli::TunnelOwnerMap, std::string> tunnelOwners =
      cli::TunnelOwnerMap{{"utun3", TunnelOwner{812, "WireGuard", "/usr/bin/wireguard"}}};
  int tunnelQueries = 0;
  CannedDaemon daemon;
  std::filesystem::path tokenFile;

  void release() {
    {
      std::lock_guard guard(mutex);
      holdLookups = false;
    }
    lookupReleased.notify_all();
  }
  std::size_t lookupCount() {
    std::lock_guard guard(mutex);
    return lookups.size();
  }

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
        .publicLookup =
            [this](const std::string& provider, std::stop_token stop) {
              std::unique_lock lock(mutex);
              lookups.push_back(provider);
              if (!lookupReleased.wait(lock, stop, [this] { return !holdLookups; })) {
                return cli::PublicAddressReport{"Echo A", "https://a.example/", {{}, {}, "cancelled"}};
              }
              return publicAddresses;
            },
        .tunnelOwners =
            [this] {
              std::lock_guard guard(mutex);
              ++tunnelQueries;
              return tunnelOwners;
            },
        .daemon = daemon.connector(),
        .tokenFile = tokenFile,
    };
  }
};

}  // namespace bcn::tray::testing
