// One cycle of held pairing waits against a running daemon: `count` users
// each open a request and wait on it (bcn-load-peer hold), something else
// runs while they wait, the consoles of the first `denied` users deny their
// requests (bcn-load-peer deny), and the holder checks that exactly those
// waits were answered, once each, before it drops every connection.
//
// Test-only; needs root and the daemon running with the two peer copies
// installed. Blocks for the whole cycle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace bcn::load {

struct HoldCycle {
  std::filesystem::path appPeer;      // bcn-load-peer installed as the app
  std::filesystem::path consolePeer;  // ... and as the console
  std::size_t count = 1000;
  std::size_t denied = 500;
  std::uint32_t uidBase = 80'000;
};

struct HoldCycleResult {
  bool held = false;      // every wait was held, none answered early
  bool denied = false;    // every console found and denied its user's request
  bool released = false;  // exactly the denied waits were answered, once
  std::string output;     // what the peers printed, for diagnostics

  bool ok() const { return held && denied && released; }
};

// Runs the cycle; `whileHeld` runs once every wait is held.
HoldCycleResult runHoldCycle(const HoldCycle& cycle, const std::function<void()>& whileHeld = {});

}  // namespace bcn::load
