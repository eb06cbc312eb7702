// Text for the numbers the tool shows: byte counts and rates in binary
// units (as vnstat and nload print them), line speeds in bits per second,
// and instants as UTC timestamps. Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "platform/date.h"

namespace bcn::cli {

// "0 B", "999 B", "1.21 KiB", "12.1 MiB", "121 GiB": three significant
// digits from KiB up, whole bytes below.
std::string formatBytes(double bytes);
// formatBytes followed by "/s"; "-" for a rate that is not finite or negative.
std::string formatRate(double bytesPerSecond);
// A rate in at most five characters for tables: "0", "999", "1.2K",
// "12K", "121M" (bytes per second, binary prefixes); "-" when not finite.
std::string formatCompactRate(double bytesPerSecond);
// A line speed: "10 Mbps", "2.5 Gbps", "100 Gbps"; decimal prefixes as the
// link world uses them.
std::string formatLineSpeed(std::uint64_t bitsPerSecond);
// "2024-05-01 12:00:03Z" (to the second); "2024-05-01T12:00:03.250Z" for
// the ISO form used in JSON (to the millisecond).
std::string formatTimestamp(Date date);
std::string formatIsoTimestamp(Date date);

}  // namespace bcn::cli
