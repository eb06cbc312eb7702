#include "netcore/shim/ethtool_media.h"

#include "netcore/shim/media_table.h"

namespace bcn::shim {
namespace {

constexpr std::int32_t kStatusValid = 0x1;
constexpr std::int32_t kStatusActive = 0x2;

// Subtype per speed: twisted pair, fibre, direct attach (twinax), and
// everything else (backplane, unknown ports). 0 means "no such medium".
struct SpeedRow {
  std::uint32_t mbps;
  std::uint32_t twistedPair, fibre, directAttach, other;
};

constexpr SpeedRow kSpeeds[] = {
    {10, 0x3, 0xD, 0x3, 0x3},                          // 10baseT/UTP, 10baseFL
    {100, 0x6, 0x7, 0x6, 0x6},                         // 100baseTX, 100baseFX
    {1000, 0x10, 0xB, 0xF, 0x10},                      // 1000baseT, 1000baseSX, 1000baseCX
    {2500, 0x16, 0x10000, 0x1001F, 0x1001F},           // 2500Base-T, 2500BaseSX, 2500Base-X
    {5000, 0x17, 0x20000, 0x20000, 0x20000},           // 5000Base-T, 5000Base-KR
    {10000, 0x15, 0x12, 0x10001, 0x1B},                // 10Gbase-T, -SR, -Twinax, 10GBase-KR
    {25000, 0x20001, 0x10017, 0x10015, 0x10016},       // 25GBase-T, -SR, -CR, -KR
    {40000, 0x1F, 0x10006, 0x10005, 0x1000D},          // 40Gbase-SR4, -CR4, 40GBase-KR4
    {50000, 0x1F, 0x20012, 0x10018, 0x10019},          // 50GBase-SR, -CR2, -KR2
    {100000, 0x1F, 0x10010, 0x1000F, 0x10011},         // 100GBase-SR4, -CR4, -KR4
    {200000, 0x1F, 0x30008, 0x30007, 0x3000C},         // 200GBase-SR4, -CR4-PAM4, -KR4-PAM4
    {400000, 0x1F, 0x30013, 0x1F, 0x30015},            // 400GBase-DR4, 400G-AUI8
};

constexpr std::uint32_t kOtherSubtype = 0x1F;
constexpr std::uint32_t kAutoselect = 0x0;

}  // namespace

std::optional<std::uint32_t> ethernetSubtype(std::uint32_t speedMbps, Port port) {
  if (speedMbps == 0) return std::nullopt;
  if (speedMbps == 10 && port == Port::kAui) return 0x5;  // 10base5/AUI
  if (speedMbps == 10 && port == Port::kBnc) return 0x4;  // 10base2/BNC
  for (const SpeedRow& row : kSpeeds) {
    if (row.mbps != speedMbps) continue;
    switch (port) {
      case Port::kTwistedPair: return row.twistedPair;
      case Port::kFibre: return row.fibre;
      case Port::kDirectAttach: return row.directAttach;
      default: return row.other;
    }
  }
  return kOtherSubtype;
}

std::optional<bcn_media_t> ethernetMedia(const LinkSettings& settings, std::optional<bool> link) {
  const std::optional<std::uint32_t> subtype = ethernetSubtype(settings.speedMbps, settings.port);
  if (!subtype && !settings.autonegotiation) return std::nullopt;

  std::uint32_t duplex = 0;
  if (settings.duplex == Duplex::kFull) duplex = kMediaFullDuplex;
  if (settings.duplex == Duplex::kHalf) duplex = kMediaHalfDuplex;

  const std::uint32_t autoselect = kMediaEthernet | kAutoselect;
  const bool linkUp = link.value_or(false);
  std::uint32_t active = autoselect;
  if (subtype && (linkUp || !settings.autonegotiation)) active = kMediaEthernet | *subtype | duplex;
  const std::uint32_t current = settings.autonegotiation ? autoselect : active;

  std::int32_t status = 0;
  if (link) status = kStatusValid | (*link ? kStatusActive : 0);
  return bcn_media_t{static_cast<std::int32_t>(current), static_cast<std::int32_t>(active), status};
}

bcn_media_t wirelessMedia(std::optional<bool> link) {
  std::int32_t status = 0;
  if (link) status = kStatusValid | (*link ? kStatusActive : 0);
  const auto word = static_cast<std::int32_t>(kMediaIeee80211 | kAutoselect);
  return bcn_media_t{word, word, status};
}

}  // namespace bcn::shim
