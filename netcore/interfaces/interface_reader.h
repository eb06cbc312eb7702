// InterfaceReader: one reading of every network interface of the network
// namespace the reader was constructed in, as InterfaceSnapshot values.
//
// A reading takes the kernel's state once: one rtnetlink dump of links
// (names, flags, hardware addresses, counters, MTU, type, IPv6 settings)
// and one of addresses of every family (addresses, labels, per-address
// flags), then ethtool (media, line speed, offloads) and, for
// hardware-backed devices only, sysfs (wireless or cellular). All of it
// goes through the bcn_ shim; this class works with plain values.
//
// Never fails: an unreadable source leaves the fields it feeds at their
// absent values (see InterfaceSnapshot), and an unreadable interface list
// gives an empty result.
//
// Thread safety: snapshot() and linkIdentities() may run on several threads
// at once. The reader keeps one rtnetlink socket for its lifetime, and
// concurrent readings take turns on it for their two dumps only (a socket
// carries one dump at a time); everything else in a reading runs in
// parallel. The other descriptors and the ethtool answers that never change
// are fixed once learned.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "netcore/export.h"
#include "netcore/interfaces/interface_snapshot.h"
#include "netcore/interfaces/link_identity.h"

struct bcn_ifaddr_t;
typedef struct bcn_kernel_view bcn_kernel_view_t;
typedef struct bcn_kernel_session bcn_kernel_session_t;

namespace bcn {

class NETCORE_EXPORT InterfaceReader {
 public:
  // Opens an AF_INET and an AF_INET6 datagram socket and an rtnetlink
  // socket, all in the calling thread's network namespace; a socket that
  // cannot be opened stays unusable and the queries made through it fail.
  InterfaceReader();
  ~InterfaceReader();
  InterfaceReader(const InterfaceReader&) = delete;
  InterfaceReader& operator=(const InterfaceReader&) = delete;

  // Interfaces in the order their names first appear in the kernel's
  // interface-address list (every link in index order, then the address
  // labels that are not link names); each name exactly once.
  std::vector<InterfaceSnapshot> snapshot() const;

  // The identity of each of `snapshots` still present by its name, from
  // one rtnetlink dump taken now; names gone since are left out.
  std::map<std::string, LinkIdentity> linkIdentities(std::span<const InterfaceSnapshot> snapshots) const;

  int sock4() const { return sock4_; }
  int sock6() const { return sock6_; }

 private:
  struct MediaTexts;
  void readIoctls(InterfaceSnapshot& snapshot, bcn_kernel_view_t* view, MediaTexts& texts) const;
  std::optional<MediaInfo> media(const std::string& name, bcn_kernel_view_t* view, MediaTexts& texts) const;
  IPv6Address ipv6Address(const bcn_ifaddr_t& entry, const std::string& ifname, bcn_kernel_view_t* view) const;

  const int sock4_;
  const int sock6_;
  bcn_kernel_session_t* const session_;
};

}  // namespace bcn
