// InterfaceReader: one reading of every network interface of the calling
// thread's network namespace, as InterfaceSnapshot values.
//
// A reading combines the interface-address list (getifaddrs: names, flags,
// addresses, hardware addresses), one rtnetlink dump of links and one of
// IPv6 addresses (counters, MTU, type, IPv6 settings and per-address
// flags), ethtool (media, line speed, offloads) and, for hardware-backed
// devices only, sysfs (wireless or cellular). All of it goes through the
// bcn_ shim; this class works with plain values.
//
// Never fails: an unreadable source leaves the fields it feeds at their
// absent values (see InterfaceSnapshot), and an unreadable interface list
// gives an empty result.
//
// Thread safety: the reader holds two descriptors fixed for its lifetime
// and nothing else; snapshot() may run on several threads at once.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "netcore/export.h"
#include "netcore/interfaces/interface_snapshot.h"
#include "netcore/interfaces/link_identity.h"

struct ifaddrs;
typedef struct bcn_kernel_view bcn_kernel_view_t;

namespace bcn {

class NETCORE_EXPORT InterfaceReader {
 public:
  // Opens an AF_INET and an AF_INET6 datagram socket; a socket that cannot
  // be opened stays -1 and the queries made through it fail.
  InterfaceReader();
  ~InterfaceReader();
  InterfaceReader(const InterfaceReader&) = delete;
  InterfaceReader& operator=(const InterfaceReader&) = delete;

  // Interfaces in the order their names first appear in the kernel's
  // address list; each name exactly once.
  std::vector<InterfaceSnapshot> snapshot() const;

  // The identity of each of `snapshots` still present by its name, from
  // one rtnetlink dump taken now; names gone since are left out.
  std::map<std::string, LinkIdentity> linkIdentities(std::span<const InterfaceSnapshot> snapshots) const;

  int sock4() const { return sock4_; }
  int sock6() const { return sock6_; }

 private:
  void readIoctls(InterfaceSnapshot& snapshot, bcn_kernel_view_t* view) const;
  std::optional<MediaInfo> media(const std::string& name, bcn_kernel_view_t* view) const;
  IPv6Address ipv6Address(const ifaddrs& entry, const std::string& ifname, bcn_kernel_view_t* view) const;

  const int sock4_;
  const int sock6_;
};

}  // namespace bcn
