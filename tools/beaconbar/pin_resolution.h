// `beaconbar pins resolve`: the fingerprint of each live interface, the
// saved pins file, and how each pin resolves.
//
// A live interface's fingerprint: the key is its hardware address when it
// has a non-zero one, else its name; the hardware address is also the
// `address`; the identity is permanent when that address is globally unique
// (a unicast address whose universal/local bit is clear), since only such
// an address survives renames and re-plugging. There is no title: titles
// are the services' display names.
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
#include "netcore/sysconfig/interface_fingerprint.h"

namespace bcn::cli {

// A pins file larger than this is not one.
inline constexpr std::size_t kMaxPinsFileBytes = 1u << 20;

// Unicast, universally administered and not all zero.
bool isGloballyUnique(const LinkAddress& address);

InterfaceFingerprint fingerprintOf(const InterfaceSnapshot& snapshot);

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
