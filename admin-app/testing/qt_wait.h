// Test-only: waiting in a test for what arrives through the Qt event loop
// (queued IPC replies and invalidations). GUI thread only.
#pragma once

#include <chrono>
#include <functional>

namespace bcn::testing {

// Runs the event loop until `condition` holds or `limit` passes; returns
// the condition's last value.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Runs the event loop for `period`, for checks that something does NOT
// happen (a message that must stay unset, a call that must not be sent).
void settle(std::chrono::milliseconds period = std::chrono::milliseconds(200));

}  // namespace bcn::testing
