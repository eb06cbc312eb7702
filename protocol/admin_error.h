// AdminError: the errors the daemon reports to its clients, with fixed
// codes and English messages. On the wire an AdminError is a PlatformError
// in domain "com.quillbank.Beaconbar.admin" whose code is the raw value and
// whose description is the message; clients turn it back with
// adminErrorFromPlatformError. Plain values; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/error.h"

namespace bcn {

enum class AdminError : std::int64_t {
  notPaired = 1,
  unknownService = 2,
  unknownRequest = 3,
  authorizationFailed = 4,
  wrongUser = 5,
  configurationFailed = 6,
  alreadyPending = 7,
};

inline constexpr std::string_view adminErrorDomain = "com.quillbank.Beaconbar.admin";

constexpr std::int64_t rawValue(AdminError e) { return static_cast<std::int64_t>(e); }

// Exactly 1…7 construct a case; every other integer yields nothing.
std::optional<AdminError> adminErrorFromRawValue(std::int64_t raw);

// The user-facing message, e.g. "The pairing request has expired".
std::string_view message(AdminError e);

PlatformError toPlatformError(AdminError e);

// The AdminError a PlatformError stands for: its domain must be
// adminErrorDomain and its code a known raw value.
std::optional<AdminError> adminErrorFromPlatformError(const PlatformError& error);

}  // namespace bcn
