// The ethtool requests the inventory makes (SIOCETHTOOL on an ordinary
// datagram socket). Each fills a fixed-size, zeroed request and returns
// nothing when the device or driver does not answer. Thread-safe; no state.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "netcore/shim/ethtool_media.h"

namespace bcn::shim {

// Link settings (ETHTOOL_GLINKSETTINGS). `maskWords` carries the link-mode
// mask size between calls of one reading: 0 at first, learned from the
// kernel's handshake, so later calls need one request instead of two.
std::optional<LinkSettings> ethtoolLinkSettings(int socket, const char* name, int& maskWords);

// Capability mask per feature bit, from the feature names the device's
// kernel reports (ETHTOOL_GSSET_INFO + ETHTOOL_GSTRINGS for ETH_SS_FEATURES).
std::optional<std::vector<std::uint32_t>> ethtoolFeatureCapabilities(int socket, const char* name);

// Most feature bits a device can report (the feature-name table's bound).
inline constexpr std::size_t kMaxFeatureWords = 4096 / 32;

// The enabled feature bits (ETHTOOL_GFEATURES, `active`), `featureCount`
// bits long, as 32-bit words written to the front of `active`; returns how
// many words were written, or nothing when the device does not answer.
// Asked of every interface in every reading, so it allocates nothing.
// REQUIRES: active.size() >= kMaxFeatureWords.
std::optional<std::size_t> ethtoolActiveFeatures(int socket, const char* name, std::size_t featureCount,
                                                 std::span<std::uint32_t> active);

}  // namespace bcn::shim
