// Ethtool link settings turned into media words: the configured word, the
// word in use and the status word. Pure function; the ioctls live in
// ethtool_linux.cc.
#pragma once

#include <cstdint>
#include <optional>

#include "netcore/shim/bcn_interfaces.h"

namespace bcn::shim {

enum class Port { kOther, kTwistedPair, kAui, kBnc, kFibre, kDirectAttach };
enum class Duplex { kUnknown, kHalf, kFull };

// What the driver says about the link; `speedMbps` 0 when unknown.
struct LinkSettings {
  std::uint32_t speedMbps = 0;
  Duplex duplex = Duplex::kUnknown;
  Port port = Port::kOther;
  bool autonegotiation = false;
};

// Ethernet subtype word for a speed and port, or nullopt when the speed
// is unknown (0). Speeds without a name give the "Other" subtype.
std::optional<std::uint32_t> ethernetSubtype(std::uint32_t speedMbps, Port port);

// Media of an Ethernet device. `link` is the carrier state when known.
// Autonegotiation makes the configured word "autoselect"; the word in use
// is the negotiated speed and duplex while the link is up and the speed is
// known, and autoselect otherwise. A device with neither a known speed nor
// autonegotiation (an idle bridge) reports no media.
std::optional<bcn_media_t> ethernetMedia(const LinkSettings& settings, std::optional<bool> link);

// Media of a wireless device: IEEE802.11 autoselect with the link state.
bcn_media_t wirelessMedia(std::optional<bool> link);

}  // namespace bcn::shim
