// The ethtool requests the inventory makes (SIOCETHTOOL on an ordinary
// datagram socket). Each fills a fixed-size, zeroed request and returns
// nothing when the device or driver does not answer. Thread-safe; no state.
#pragma once

#include <cstdint>
#include <optional>
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

// The enabled feature bits (ETHTOOL_GFEATURES, `active`), `featureCount`
// bits long, as 32-bit words.
std::optional<std::vector<std::uint32_t>> ethtoolActiveFeatures(int socket, const char* name,
                                                                std::size_t featureCount);

}  // namespace bcn::shim
