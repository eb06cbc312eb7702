// The coded form of a RateHistory, as property-list values (the history
// file, docs/history-file.md, is a dictionary of these):
//
//   history: { "tiers": [ tier, ... ] }
//   tier:    { "granularity": real, "retention": real, "buckets": data }
//
// "buckets" packs each bucket as 64 bytes, eight little-endian IEEE-754
// doubles: start, seconds, bytesIn, bytesOut, minIn, maxIn, minOut, maxOut.
// Byte counts above 2^53 lose precision on the way through a double.
//
// Decoding is lenient about layout (trailing bytes that do not fill a whole
// bucket are ignored, unknown keys are ignored, tier count, order and
// granularities are taken as stored) but refuses what it cannot represent:
// a missing key or a value of the wrong kind, and a byte count that is not
// finite, is -1 or less, or is 2^64 or more. Integers are accepted where a
// real is expected. Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <expected>

#include "netcore/history/rate_history.h"
#include "platform/error.h"
#include "platform/plist.h"

namespace bcn {

inline constexpr std::size_t kEncodedBucketSize = 64;

PlistValue encodeHistoryTier(const RateHistory::Tier& tier);
std::expected<RateHistory::Tier, PlatformError> decodeHistoryTier(const PlistValue& value);

PlistValue encodeRateHistory(const RateHistory& history);
std::expected<RateHistory, PlatformError> decodeRateHistory(const PlistValue& value);

}  // namespace bcn
