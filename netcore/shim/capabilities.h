// Which ethtool feature stands for which capability bit. The one mapping
// table lives in capabilities.cc. Pure functions over names.
#pragma once

#include <cstdint>
#include <string_view>

namespace bcn::shim {

// The capability bit (a mask) an ethtool feature name contributes, or 0.
std::uint32_t capabilityForFeature(std::string_view featureName);

}  // namespace bcn::shim
