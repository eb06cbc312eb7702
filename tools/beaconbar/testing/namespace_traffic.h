// Test-only: traffic between the test's network namespaces, and what the
// kernel counted of it, for the tests that compare a recorded history with
// the kernel's counters. Needs root, as TestNamespace does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "netcore/interfaces/test_namespace.h"

namespace bcn::cli::testing {

// UDP datagrams of 1000 bytes every 5 ms from inside `from` to `address`
// (IPv4, the discard port) for `duration`; the bytes sent.
std::size_t sendDatagrams(const bcn::testing::TestNamespace& from, const std::string& address,
                          std::chrono::milliseconds duration);

// The bytes the kernel counted as received on `link` in `where`.
std::uint64_t receivedBytes(const bcn::testing::TestNamespace& where, const std::string& link);

}  // namespace bcn::cli::testing
