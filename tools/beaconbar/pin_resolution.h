// `beaconbar pins resolve`: the fingerprint of each live interface, the
// saved pins file, and how each pin resolves.
//
// A live interface's fingerprint. Its key must stay with the interface and
// differ between interfaces that share a hardware address (a bridge, bond
// or VLAN routinely takes its port's), so it comes from the link's identity
// rather than its current address:
// - a physical port (no virtual kind, or backed by a bus device) that
//   reports a permanent hardware address: that address, e.g.
//   "00:1c:42:ab:cd:ef"; it survives renames, re-plugging and reboots, and
//   the identity is permanent when the address is globally unique (a
//   unicast address whose universal/local bit is clear);
// - a virtual link: its kind and name, e.g. "bridge:br0", "veth:veth1"
//   (interface names cannot hold ":"); it survives re-creation under the
//   same name and reboots, not a rename;
// - anything else (loopback, a port without a permanent address, a link
//   the identity could not be read for): its name.
// The current hardware address, when non-zero, is the `address`. There is
// no title: titles are the services' display names.
//
// The pins file is a JSON array of fingerprint objects as
// InterfaceFingerprint encodes them. Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <expected>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "netcore/interfaces/interface_snapshot.h"
#include "netcore/interfaces/link_identity.h"
#include "netcore/sysconfig/interface_fingerprint.h"

namespace bcn::cli {

// A pins file larger than this is not one.
inline constexpr std::size_t kMaxPinsFileBytes = 1u << 20;

// Unicast, universally administered and not all zero.
bool isGloballyUnique(const LinkAddress& address);

// `identity` is the snapshot's link identity, null when unknown.
InterfaceFingerprint fingerprintOf(const InterfaceSnapshot& snapshot, const LinkIdentity* identity);

// The pins in `bytes`, in file order; the error names the first fault
// ("not valid JSON ...", "pin 3: ...").
std::expected<std::vector<InterfaceFingerprint>, std::string> parsePins(std::span<const std::uint8_t> bytes);

struct PinResolution {
  InterfaceFingerprint pin;
  std::optional<InterfaceFingerprint> live;
};

// PinMatcher over the pins and the live fingerprints, paired up in pin order.
std::vector<PinResolution> resolvePins(const std::vector<InterfaceFingerprint>& pins,
                                       const std::vector<InterfaceFingerprint>& live);

// A table PIN KEY RESOLVES TO, "not present" for unresolved pins.
std::string formatPinResolutions(const std::vector<PinResolution>& resolutions);

// {"pins": [{"pin": fingerprint, "live": fingerprint | null}]}
nlohmann::ordered_json pinResolutionsJson(const std::vector<PinResolution>& resolutions);

}  // namespace bcn::cli
