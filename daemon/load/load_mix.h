// The mixed client population of the load and soak runs: many concurrent
// clients of the app service, each repeatedly picking one of
//   - a well-formed call (status with and without tokens, tunnel owners,
//     unpair with a token nobody holds, a pipelined burst of status calls),
//     whose reply must come within a time limit, once, with the right shape;
//   - an abrupt end (a call sent and the connection dropped at once, a
//     pairing wait dropped while held, a frame cut short);
//   - a malformed frame (bad or oversized lengths, non-plist payloads,
//     wrong shapes, unknown selectors, wrong argument types), after which
//     the daemon must close the connection without answering.
//
// Test-only; runs as root (clients connect under the uids given). Thread-
// safe to call; it starts `clients` threads of its own and joins them.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace bcn::load {

struct MixOptions {
  std::filesystem::path appSocket;
  std::chrono::milliseconds duration{10'000};
  std::size_t clients = 200;
  // Client i connects as uidBase + i % uids: the per-user connection limit
  // must leave room for a few connections per client that the daemon has
  // not yet seen closed.
  std::uint32_t uidBase = 70'000;
  std::size_t uids = 40;
  // Tokens the daemon has paired, by user: status must confirm them, and
  // deny them to every other user.
  std::map<std::uint32_t, std::string> tokens;
  std::uint64_t seed = 1;
  // A well-formed call not answered within this from the moment it is
  // sent is a failure.
  std::chrono::milliseconds replyLimit{10'000};
};

struct MixReport {
  std::size_t calls = 0;           // well-formed calls that expect a reply
  std::size_t answered = 0;        // ... answered in time with the right shape
  std::size_t late = 0;            // ... not answered within the limit
  std::size_t wrong = 0;           // ... answered with a wrong shape or value
  std::size_t abrupt = 0;          // connections dropped mid-call or mid-frame
  std::size_t malformed = 0;       // malformed frames sent
  std::size_t closedByDaemon = 0;  // ... after which the daemon closed
  std::size_t notClosed = 0;       // ... after which it did not
  std::size_t answeredMalformed = 0;
  std::size_t refused = 0;     // connections refused for the per-user limit
  std::size_t duplicates = 0;  // second replies to one call
  std::size_t unexpected = 0;  // replies to calls never sent, garbage frames
  std::size_t connectFailures = 0;
  std::chrono::milliseconds slowest{0};

  MixReport& operator+=(const MixReport& other);
  // Every call answered once and correctly, every malformed frame refused.
  bool ok() const;
  // One "key=value" line per count.
  std::string text() const;
};

MixReport runMix(const MixOptions& options);

}  // namespace bcn::load
