#include "netcore/shim/capabilities.h"

namespace bcn::shim {
namespace {

struct FeatureCapability {
  std::string_view feature;  // ethtool feature name (ETH_SS_FEATURES string)
  std::uint32_t capability;  // capability bit
};

constexpr std::uint32_t kRxCsum = 1u << 0;
constexpr std::uint32_t kTxCsum = 1u << 1;
constexpr std::uint32_t kVlanHwTagging = 1u << 3;
constexpr std::uint32_t kTso4 = 1u << 5;
constexpr std::uint32_t kTso6 = 1u << 6;
constexpr std::uint32_t kLro = 1u << 7;

// Linux has no feature behind VLAN_MTU, JUMBO_MTU, AV, TXSTATUS,
// CHANNEL_IO, the time-stamping bits, PARTIAL_CSUM, ZEROINVERT_CSUM or
// LRO_NUM_SEG, so
// those are never reported.
constexpr FeatureCapability kTable[] = {
    {"rx-checksum", kRxCsum},
    {"tx-checksum-ipv4", kTxCsum},
    {"tx-checksum-ipv6", kTxCsum},
    {"tx-checksum-ip-generic", kTxCsum},
    {"tx-checksum-sctp", kTxCsum},
    {"rx-vlan-hw-parse", kVlanHwTagging},
    {"tx-vlan-hw-insert", kVlanHwTagging},
    {"tx-tcp-segmentation", kTso4},
    {"tx-tcp6-segmentation", kTso6},
    {"rx-lro", kLro},
};

}  // namespace

std::uint32_t capabilityForFeature(std::string_view featureName) {
  for (const FeatureCapability& row : kTable) {
    if (row.feature == featureName) return row.capability;
  }
  return 0;
}

}  // namespace bcn::shim
