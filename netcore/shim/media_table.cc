// The media vocabulary as data. The Ethernet subtype words are distinct, so
// their order here (ascending by word) does not affect any lookup.
#include "netcore/shim/media_table.h"

namespace bcn::shim {
namespace {

constexpr MediaName kSharedSubtypes[] = {
    {0x0, "autoselect"},
    {0x1, "manual"},
    {0x2, "none"},
    {0, nullptr},
};

constexpr MediaName kSharedOptions[] = {
    {0x100000, "full-duplex"},
    {0x200000, "half-duplex"},
    {0x400000, "flow-control"},
    {0x800000, "energy-efficient-ethernet"},
    {0x1000000, "flag0"},
    {0x2000000, "flag1"},
    {0x4000000, "flag2"},
    {0x8000000, "hw-loopback"},
    {0, nullptr},
};

constexpr MediaName kEthernetSubtypes[] = {
    {0x3, "10baseT/UTP"},
    {0x4, "10base2/BNC"},
    {0x5, "10base5/AUI"},
    {0x6, "100baseTX"},
    {0x7, "100baseFX"},
    {0x8, "100baseT4"},
    {0x9, "100baseVG"},
    {0xA, "100baseT2"},
    {0xB, "1000baseSX"},
    {0xC, "10baseSTP"},
    {0xD, "10baseFL"},
    {0xE, "1000baseLX"},
    {0xF, "1000baseCX"},
    {0x10, "1000baseT"},
    {0x11, "homePNA"},
    {0x12, "10Gbase-SR"},
    {0x13, "10Gbase-LR"},
    {0x14, "10Gbase-CX4"},
    {0x15, "10Gbase-T"},
    {0x16, "2500Base-T"},
    {0x17, "5000Base-T"},
    {0x18, "1000Base-CX-SGMII"},
    {0x19, "1000Base-KX"},
    {0x1A, "10GBase-KX4"},
    {0x1B, "10GBase-KR"},
    {0x1C, "10GBase-CR1"},
    {0x1D, "10GBase-ER"},
    {0x1E, "20GBase-KR2"},
    {0x1F, "Other"},
    {0x10000, "2500BaseSX"},
    {0x10001, "10Gbase-Twinax"},
    {0x10002, "10Gbase-Twinax-Long"},
    {0x10003, "10Gbase-LRM"},
    {0x10004, "2500Base-KX"},
    {0x10005, "40Gbase-CR4"},
    {0x10006, "40Gbase-SR4"},
    {0x10007, "PCIExpress-50G"},
    {0x10008, "PCIExpress-25G"},
    {0x10009, "1000Base-SGMII"},
    {0x1000A, "10GBase-SFI"},
    {0x1000B, "40GBase-XLPPI"},
    {0x1000C, "40Gbase-LR4"},
    {0x1000D, "40GBase-KR4"},
    {0x1000F, "100GBase-CR4"},
    {0x10010, "100GBase-SR4"},
    {0x10011, "100GBase-KR4"},
    {0x10012, "100GBase-LR4"},
    {0x10013, "56GBase-R4"},
    {0x10014, "100BaseT"},
    {0x10015, "25GBase-CR"},
    {0x10016, "25GBase-KR"},
    {0x10017, "25GBase-SR"},
    {0x10018, "50GBase-CR2"},
    {0x10019, "50GBase-KR2"},
    {0x1001A, "25GBase-LR"},
    {0x1001B, "10GBase-AOC"},
    {0x1001C, "25GBase-ACC"},
    {0x1001D, "25GBase-AOC"},
    {0x1001E, "100M-SGMII"},
    {0x1001F, "2500Base-X"},
    {0x20000, "5000Base-KR"},
    {0x20001, "25GBase-T"},
    {0x20002, "25GBase-CR-S"},
    {0x20003, "25GBase-CR1"},
    {0x20004, "25GBase-KR-S"},
    {0x20005, "5000Base-KR-S"},
    {0x20006, "5000Base-KR1"},
    {0x20007, "25G-AUI"},
    {0x20008, "40G-XLAUI"},
    {0x20009, "40G-XLAUI-AC"},
    {0x2000A, "40GBase-ER4"},
    {0x2000B, "50GBase-SR2"},
    {0x2000C, "50GBase-LR2"},
    {0x2000D, "50G-LAUI2-AC"},
    {0x2000E, "50G-LAUI2"},
    {0x2000F, "50G-AUI2-AC"},
    {0x20010, "50G-AUI2"},
    {0x20011, "50GBase-CP"},
    {0x20012, "50GBase-SR"},
    {0x20013, "50GBase-LR"},
    {0x20014, "50GBase-FR"},
    {0x20015, "50GBase-KR-PAM4"},
    {0x20016, "25GBase-KR1"},
    {0x20017, "50G-AUI1-AC"},
    {0x20018, "50G-AUI1"},
    {0x20019, "100G-CAUI4-AC"},
    {0x2001A, "100G-CAUI4"},
    {0x2001B, "100G-AUI4-AC"},
    {0x2001C, "100G-AUI4"},
    {0x2001D, "100GBase-CR-PAM4"},
    {0x2001E, "100GBase-KR-PAM4"},
    {0x2001F, "100GBase-CP2"},
    {0x30000, "100GBase-SR2"},
    {0x30001, "100GBase-DR"},
    {0x30002, "100GBase-KR2-PAM4"},
    {0x30003, "100G-CAUI2-AC"},
    {0x30004, "100G-CAUI2"},
    {0x30005, "100G-AUI2-AC"},
    {0x30006, "100G-AUI2"},
    {0x30007, "200GBase-CR4-PAM4"},
    {0x30008, "200GBase-SR4"},
    {0x30009, "200GBase-FR4"},
    {0x3000A, "200GBase-LR4"},
    {0x3000B, "200GBase-DR4"},
    {0x3000C, "200GBase-KR4-PAM4"},
    {0x3000D, "200G-AUI4-AC"},
    {0x3000E, "200G-AUI4"},
    {0x3000F, "200G-AUI8-AC"},
    {0x30010, "200G-AUI8"},
    {0x30011, "400GBase-FR8"},
    {0x30012, "400GBase-LR8"},
    {0x30013, "400GBase-DR4"},
    {0x30014, "400G-AUI8-AC"},
    {0x30015, "400G-AUI8"},
    {0, nullptr},
};

constexpr MediaName kEthernetOptions[] = {
    {0, nullptr},
};

constexpr MediaName kTokenRingSubtypes[] = {
    {0x3, "DB9/4Mbit"},
    {0x4, "DB9/16Mbit"},
    {0x5, "UTP/4Mbit"},
    {0x6, "UTP/16Mbit"},
    {0, nullptr},
};

constexpr MediaName kTokenRingOptions[] = {
    {0x200, "EarlyTokenRelease"},
    {0x400, "SourceRouting"},
    {0x800, "AllRoutes"},
    {0, nullptr},
};

constexpr MediaName kFddiSubtypes[] = {
    {0x3, "Single-mode"},
    {0x4, "Multi-mode"},
    {0x5, "UTP"},
    {0, nullptr},
};

constexpr MediaName kFddiOptions[] = {
    {0x100, "Dual-attach"},
    {0, nullptr},
};

constexpr MediaName kIeee80211Subtypes[] = {
    {0x3, "FH1"},
    {0x4, "FH2"},
    {0x8, "DS1"},
    {0x5, "DS2"},
    {0x6, "DS5"},
    {0x7, "DS11"},
    {0x9, "DS22"},
    {0, nullptr},
};

}  // namespace

const MediaName kMediaTypes[] = {
    {0x20, "Ethernet"},
    {0x40, "Token ring"},
    {0x60, "FDDI"},
    {0x80, "IEEE802.11"},
    {0, nullptr},
};

const MediaTypeEntry kMediaTypeEntries[] = {
    {0x20, {kSharedSubtypes, kEthernetSubtypes}, {kSharedOptions, kEthernetOptions}},
    {0x40, {kSharedSubtypes, kTokenRingSubtypes}, {kSharedOptions, kTokenRingOptions}},
    {0x60, {kSharedSubtypes, kFddiSubtypes}, {kSharedOptions, kFddiOptions}},
    {0x80, {kSharedSubtypes, kIeee80211Subtypes}, {kSharedOptions, nullptr}},
    {0, {nullptr, nullptr}, {nullptr, nullptr}},
};

}  // namespace bcn::shim
