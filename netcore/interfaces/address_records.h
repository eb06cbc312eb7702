// The pure steps of an inventory reading that turn socket addresses into
// address values: text of a binary address, prefix length of a mask, the
// IPv4 and IPv6 records, and the text of a media word. No kernel calls;
// thread-safe; every function accepts null socket addresses.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "netcore/interfaces/interface_addresses.h"

struct sockaddr;
struct sockaddr_in6;

namespace bcn {

// The text inet_ntop gives for an AF_INET or AF_INET6 address; "" for
// another family or a null address.
std::string ntop(int family, const void* address);

// Leading one bits of a mask socket address whose bytes (as far as they
// are valid) are `mask`: the address starts at byte 4 for AF_INET and at
// byte 8 otherwise, and only the bytes present count (a truncated mask
// stops early). Counting stops at the first byte that is not 0xFF, so a
// non-contiguous mask gives the length of its leading run.
int prefixLength(std::span<const std::uint8_t> mask, int family);

// The valid bytes of a socket address in the interface-address list (laid
// out as the C library's getifaddrs lays it out): the size
// of the structure its family uses (sockaddr_in6 for AF_INET6,
// sockaddr_in otherwise); empty for null.
std::span<const std::uint8_t> socketAddressBytes(const sockaddr* address);

// The IPv4 record of one address-list entry. `peer` is the entry's
// broadcast or destination address; `flags` the entry's interface flags
// (only IFF_BROADCAST 0x2 and IFF_POINTOPOINT 0x10 matter). A broadcast
// address equal to the address itself in a subnet wider than /31 is how
// the list says "none" (as getifaddrs does), and gives no broadcast address.
IPv4Address ipv4Address(const sockaddr* address, const sockaddr* netmask, const sockaddr* peer,
                        std::uint32_t flags);

// The IPv6 record of one address, with the per-address flags already
// read. A link-local address whose bytes 2-3 carry an embedded zone is
// shown without it, and the zone becomes the scope id when the socket
// address has none.
IPv6Address ipv6Address(const sockaddr_in6& address, const sockaddr* netmask, std::uint32_t flags);

// Text of a media word (through a zeroed 128-byte buffer).
std::string mediaWord(std::int32_t word);

}  // namespace bcn
