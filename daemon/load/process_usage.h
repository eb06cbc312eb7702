// What a running process holds, read from /proc: its open descriptors and
// its resident memory. The load and soak runs compare these before and
// after a burst of clients to see that the daemon gave everything back.
//
// Test-only. Thread-safe readers; nothing when the process is gone or
// /proc refuses (reading another user's process needs root).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace bcn::load {

std::optional<std::size_t> openDescriptors(pid_t pid);
std::optional<std::size_t> residentBytes(pid_t pid);

// Waits up to `limit` for the descriptor count of `pid` to fall to `target`
// or below, and returns the last count read (nothing if the process went).
std::optional<std::size_t> descriptorsSettledAt(pid_t pid, std::size_t target, std::chrono::milliseconds limit);

// Waits up to `limit` until `pid` holds no pidfd, and returns whether it got
// there. The daemon holds one per connection from accept until the
// connection is gone entirely, so none left means every connection closed
// before has been let go, its place under the caps included.
bool connectionsGone(pid_t pid, std::chrono::milliseconds limit);

// "VmRSS: 1234 kB" → 1234 * 1024; nothing without such a line.
std::optional<std::size_t> parseResidentBytes(const std::string& status);

}  // namespace bcn::load
