// The kernel's network links as the preferences store needs them: list
// them, and bring one up or down. Talks rtnetlink in the network namespace
// of the calling thread.
//
// Stateless and thread-safe; each call opens and closes its own netlink
// socket. Failures are reported as absent or as an error, never as partial
// lists.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/export.h"
#include "platform/error.h"

namespace bcn::netprefs {

struct NETCORE_EXPORT KernelLink {
  std::int32_t index = 0;
  std::string name;
  bool up = false;        // administratively up (IFF_UP)
  bool running = false;   // carrier and operational (IFF_RUNNING)
  bool loopback = false;  // IFF_LOOPBACK
  std::uint32_t arpType = 0;      // ARPHRD_*
  std::string kind;               // rtnetlink link kind ("veth", "bridge", "tun"), may be empty
  bool wireless = false;          // has a wireless extension in sysfs
  std::string hardwareAddress;    // "02:fc:00:00:00:01", empty when the link has none

  bool operator==(const KernelLink&) const = default;
};

// Every link, in interface-index order; absent when rtnetlink cannot be
// reached or the dump fails.
std::optional<std::vector<KernelLink>> readKernelLinks();

// Sets or clears IFF_UP on the link called `name`. Fails when the link does
// not exist or the kernel refuses; the error carries the kernel's errno and
// its text, and names the link ("take link eth1 down: Operation not
// permitted").
std::expected<void, PlatformError> setKernelLinkUp(std::string_view name, bool up);

// Lower-case colon-separated hex ("02:fc:00:00:00:01"); empty for no bytes.
std::string formatHardwareAddress(const std::uint8_t* bytes, std::size_t length);

}  // namespace bcn::netprefs
