// PublicLookup: a public address lookup running on a thread of its own
// while the caller does other work or shows a spinner, with a time limit
// of the caller's choosing (the library's own limit is 15 seconds, too long
// for an overview) and Ctrl-C cancelling it.
//
// Also where the lookup URL comes from: a built-in provider by name, or a
// custom URL checked before anything is sent.
//
// One owner; the destructor stops the lookup and joins its thread.
#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "netcore/publicip/public_ip_result.h"
#include "tools/beaconbar/public_ip_format.h"
#include "tools/beaconbar/signal_waiter.h"

namespace bcn::cli {

struct LookupTarget {
  std::string source;  // the provider's title or the URL
  std::string url;
};

// `url` when given (it must be an http or https URL with a host), else the
// provider named `provider` ("echoA" or "echoB").
std::expected<LookupTarget, std::string> lookupTarget(const std::string& provider,
                                                      const std::optional<std::string>& url);

class PublicLookup {
 public:
  enum class Outcome { finished, timedOut, interrupted };

  // Starts the lookup at once.
  PublicLookup(LookupTarget target, std::optional<std::string> jsonKeyPath);
  ~PublicLookup();
  PublicLookup(const PublicLookup&) = delete;
  PublicLookup& operator=(const PublicLookup&) = delete;

  // Waits for the result until `deadline`, calling `tick` about ten times a
  // second meanwhile. At the deadline, or when `signals` reports a stop
  // request, the lookup is cancelled and what it found so far is returned;
  // a side cut short reads "no answer within N s" as the error.
  // REQUIRES: called once.
  std::pair<PublicAddressReport, Outcome> wait(SignalWaiter& signals, std::chrono::steady_clock::time_point deadline,
                                               const std::function<void()>& tick = {});

 private:
  LookupTarget target_;
  std::chrono::steady_clock::time_point started_;
  std::future<PublicIPResult> result_;
  std::jthread worker_;
};

}  // namespace bcn::cli
