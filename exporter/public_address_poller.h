// PublicAddressPoller: the public address lookup, kept away from scrapes.
// A thread of its own looks the addresses up at start and then every
// `interval`; a scrape only copies the state the last lookup left, so it
// never waits on the network.
//
// A side (IPv4 or IPv6) that answers replaces that side's address and
// success time; a side that fails keeps the last address it found and
// counts one failure under the kind its error names (lookupFailureKind).
// When only one side fails, the lookup reports no reason for it: that
// failure counts as "unknown".
//
// Thread-safe: state() may run on any thread. The destructor stops a
// lookup in flight and joins the thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "exporter/metrics_model.h"

namespace bcn::metrics {

class PublicAddressPoller {
 public:
  using Lookup = std::function<PublicIPResult(std::stop_token)>;

  // `provider` labels the addresses. REQUIRES: interval > 0.
  PublicAddressPoller(std::string provider, Lookup lookup, std::chrono::milliseconds interval);
  ~PublicAddressPoller();
  PublicAddressPoller(const PublicAddressPoller&) = delete;
  PublicAddressPoller& operator=(const PublicAddressPoller&) = delete;

  PublicAddressState state() const;
  // Lookups finished so far.
  std::uint64_t lookups() const;

 private:
  void run(std::stop_token stop);

  const Lookup lookup_;
  const std::chrono::milliseconds interval_;
  mutable std::mutex mutex_;
  PublicAddressState state_;
  std::uint64_t lookups_ = 0;
  std::jthread thread_;  // last: started once everything above exists
};

}  // namespace bcn::metrics
