// Pure readers of what the kernel tells about tun/tap queues under /proc:
// the interface named on the "iff:" line of /proc/<pid>/fdinfo/<fd>, and
// the tunnel unit a utunN name stands for. No I/O; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace bcn {

// Interface names are at most this many bytes (IFNAMSIZ less the NUL).
inline constexpr std::size_t kMaxInterfaceNameLength = 15;

// The interface a tun/tap descriptor is attached to: the value of the first
// line of `fdinfo` that starts with "iff:", after the blanks that follow
// the colon. Absent when there is no such line (any descriptor other than
// a tun queue, or a queue that is detached or never attached) and when the
// value is not a name the kernel could have given: empty, "." or "..",
// longer than kMaxInterfaceNameLength, or containing '/', ':', a NUL byte
// or white space. The view points into `fdinfo`.
std::optional<std::string_view> tunInterfaceFromFdinfo(std::string_view fdinfo);

// N + 1 for a name "utunN", where N is decimal without leading zeros (so
// that "utun" followed by the unit minus one gives the name back) and
// N + 1 fits in 32 bits; 0 for every other name.
std::uint32_t tunnelUnitFromName(std::string_view name);

}  // namespace bcn
