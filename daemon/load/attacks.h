// What a hostile local user throws at the daemon's app service to make it
// useless for everyone else, and how a bystander measures the damage. The
// hostile-user tests and the soak run drive these through bcn-load-peer,
// as the users they stand for.
//
// Test-only. Each function blocks its caller; none is thread-safe with
// itself on shared clients.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "daemon/load/raw_client.h"

namespace bcn::load {

// Connections that each keep `depth` tunnel-owner calls outstanding,
// sending the next as soon as one is answered, until `stop` says so.
struct ScanFlood {
  std::vector<std::unique_ptr<RawClient>> clients;
  std::vector<std::vector<std::uint64_t>> outstanding;  // per client
  std::size_t sent = 0;
  std::size_t answered = 0;
};
ScanFlood openScanFlood(const std::filesystem::path& socket, std::size_t connections, std::size_t depth);
// Keeps the flood going for `duration`.
void runScanFlood(ScanFlood& flood, std::size_t depth, std::chrono::milliseconds duration);

// Pipelines `calls` tunnel-owner calls on each of `connections` new
// connections and closes them all at once; returns how many calls went out.
std::size_t queueThenClose(const std::filesystem::path& socket, std::size_t connections, std::size_t calls);

// A bystander: `count` status calls one after another on one connection.
struct Latencies {
  std::vector<double> milliseconds;  // answered calls, in order
  std::size_t failed = 0;            // unanswered within the limit, or refused
  double quantile(double q) const;   // 0 when nothing was answered
  std::string text() const;          // "p50_ms=… p99_ms=… max_ms=… answered=… failed=…" lines
};
Latencies probeStatus(const std::filesystem::path& socket, std::size_t count, std::chrono::milliseconds limit);

// Holds `count` descriptors (of /dev/null) open in this process, which
// every tunnel-owner scan then walks. Returns how many it got.
std::size_t holdDescriptors(std::size_t count, std::vector<int>& held);

// Outcome of opening connections, each with one status call.
struct Admission {
  std::vector<std::unique_ptr<RawClient>> clients;
  std::size_t served = 0, refused = 0, other = 0;
  std::string refusal;  // "code domain description" of the last refusal
  std::string text() const;
};
// `count` connections; connection i as effective uid uids[i % size] when
// `uids` is not empty.
Admission openConnections(const std::filesystem::path& socket, std::string_view selector, std::size_t count,
                          const std::vector<std::uint32_t>& uids = {});

// Moves this (single-threaded) process into a new user namespace it owns.
bool enterNewUserNamespace();

}  // namespace bcn::load
