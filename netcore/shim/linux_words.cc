#include "netcore/shim/linux_words.h"

#include <linux/if_addr.h>
#include <net/if_arp.h>
#include <net/if.h>

#include "netcore/shim/bcn_interfaces.h"

namespace bcn::shim {

std::uint32_t nd6FlagsFrom(const Inet6Settings& s, std::uint32_t linuxFlags) {
  std::uint32_t flags = 0;
  if ((linuxFlags & (IFF_NOARP | IFF_LOOPBACK)) == 0) flags |= kNd6PerformNud;
  // accept_ra 1 takes advertisements only while not forwarding; 2 always.
  if (s.acceptRa >= 2 || (s.acceptRa == 1 && s.forwarding == 0)) flags |= kNd6AcceptRtadv;
  if (s.disableIpv6 != 0) flags |= kNd6IfDisabled;
  if (s.proxyNdp != 0) flags |= kNd6ProxyPrefixes;
  if (s.dropUnsolicitedNa != 0) flags |= kNd6IgnoreNa;
  if (s.acceptDad > 0) flags |= kNd6Dad;
  return flags;
}

std::uint32_t in6AddressFlagsFrom(std::uint32_t f, std::uint8_t protocol) {
  struct Pair {
    std::uint32_t from;
    std::uint32_t to;
  };
  static constexpr Pair kTable[] = {
      {IFA_F_TENTATIVE, kIn6Tentative},      {IFA_F_OPTIMISTIC, kIn6Optimistic},
      {IFA_F_DADFAILED, kIn6Duplicated},     {IFA_F_DEPRECATED, kIn6Deprecated},
      {IFA_F_TEMPORARY, kIn6Temporary},      {IFA_F_MANAGETEMPADDR, kIn6Autoconf},
      {IFA_F_STABLE_PRIVACY, kIn6Secured},
  };
  std::uint32_t flags = 0;
  for (const Pair& p : kTable) {
    if ((f & p.from) != 0) flags |= p.to;
  }
  // Addresses with a lifetime are the ones the kernel may take away again.
  if ((f & IFA_F_PERMANENT) == 0) flags |= kIn6Dynamic;
  // Addresses built from a router advertisement, including the temporary
  // ones derived from them, are stateless autoconfiguration.
  if (protocol == IFAPROT_KERNEL_RA || (f & IFA_F_TEMPORARY) != 0) flags |= kIn6Autoconf;
  return flags;
}

}  // namespace bcn::shim

extern "C" {

std::uint8_t bcn_bsd_interface_type(std::uint16_t arphrd) {
  // ARPHRD hardware type -> BSD interface type (IFT_*). Tunnels of every
  // kind, tun devices (ARPHRD_NONE) and anything unlisted are "other".
  struct Pair {
    std::uint16_t arphrd;
    std::uint8_t ift;
  };
  static constexpr Pair kTable[] = {
      {ARPHRD_ETHER, 0x06},         // IFT_ETHER
      {ARPHRD_LOOPBACK, 0x18},      // IFT_LOOP
      {ARPHRD_IEEE802, 0x09},       // IFT_ISO88025 (token ring)
      {ARPHRD_IEEE802_TR, 0x09},    // IFT_ISO88025
      {ARPHRD_FDDI, 0x0F},          // IFT_FDDI
      {ARPHRD_PPP, 0x17},           // IFT_PPP
      {ARPHRD_SLIP, 0x1C},          // IFT_SLIP
      {ARPHRD_ATM, 0x25},           // IFT_ATM
      {ARPHRD_IEEE1394, 0x90},      // IFT_IEEE1394
      {ARPHRD_INFINIBAND, 0xC7},    // IFT_INFINIBAND
      {ARPHRD_IEEE80211, 0x47},     // IFT_IEEE80211
      {ARPHRD_IEEE80211_PRISM, 0x47},
      {ARPHRD_IEEE80211_RADIOTAP, 0x47},
  };
  for (const Pair& p : kTable) {
    if (p.arphrd == arphrd) return p.ift;
  }
  return 0x01;  // IFT_OTHER
}

std::uint32_t bcn_bsd_interface_flags(std::uint32_t linuxFlags) {
  // UP, BROADCAST, DEBUG, LOOPBACK, POINTOPOINT, NOTRAILERS, RUNNING, NOARP,
  // PROMISC and ALLMULTI share their bits with BSD.
  std::uint32_t flags = linuxFlags & 0x3FF;
  if ((linuxFlags & IFF_MULTICAST) != 0) flags |= 0x8000;
  return flags;
}

}  // extern "C"
