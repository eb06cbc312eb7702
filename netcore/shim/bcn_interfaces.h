// The flat layer under the interface reader: every Linux kernel structure the
// inventory needs (rtnetlink messages, ethtool requests, sysfs, AF_PACKET
// socket addresses) is touched here and nowhere else. Each query turns the
// Linux answer into the numeric words the rest of the library speaks: BSD
// interface flags and type numbers, media words, capability bits, ND6 and
// IN6_IFF flags, so the vocabularies above this layer stay unchanged.
//
// Every bcn_get_* function returns true on success and writes its output
// only then; on failure the output is left exactly as it was.
//
// Per-reading state: rtnetlink is read in bulk, not per interface. A
// bcn_kernel_view_t holds one dump of all links and, when asked for, one
// dump of all addresses (every family), taken by bcn_kernel_view_open()
// through a bcn_kernel_session_t; the interface-address list and the
// per-interface queries are answered from it (constant time per interface
// or address), so a reading stays linear in the number of interfaces. A
// view belongs to one reading on one thread; distinct views are
// independent. A session keeps the rtnetlink socket and what never changes
// while the kernel runs, for as long as its owner keeps it.
//
// REQUIRES: `name` arguments are zero-terminated strings; only the first 15
// bytes take part in any kernel request (IFNAMSIZ - 1).
#pragma once

#include <cstddef>
#include <cstdint>

struct sockaddr;

extern "C" {

// Configured media word, active media word, media status word.
struct bcn_media_t {
  std::int32_t current;
  std::int32_t active;
  std::int32_t status;
};

// Interface statistics. Linux keeps no count of multicast packets sent, so
// multicast_out is always 0.
struct bcn_ifdata_t {
  std::uint64_t bytes_in;
  std::uint64_t bytes_out;
  std::uint64_t packets_in;
  std::uint64_t packets_out;
  std::uint64_t errors_in;
  std::uint64_t errors_out;
  std::uint64_t multicast_in;
  std::uint64_t multicast_out;
  std::uint64_t collisions;
  std::uint64_t drops_in;
  std::uint64_t line_speed;  // bits per second; 0 when the driver does not know
  std::uint32_t mtu;
  std::uint8_t type;  // BSD interface type number, see bcn_bsd_interface_type
};

typedef struct bcn_kernel_view bcn_kernel_view_t;
typedef struct bcn_kernel_session bcn_kernel_session_t;

// Opens the rtnetlink socket every view of the session is read through, in
// the calling thread's network namespace, where it stays. Views may be
// opened through one session on several threads at once: their dumps take
// turns on the socket (one dump at a time is all a socket carries), the
// rest of each reading runs side by side. Close it after its last view.
bcn_kernel_session_t* bcn_kernel_session_open(void);
void bcn_kernel_session_close(bcn_kernel_session_t* session);

// Takes the link dump and, when `with_addresses`, the address dump of the
// session's network namespace. `session` and `ioctl_socket` are borrowed
// (not closed) for the ethtool requests made later through the view and
// must outlive it. Returns null when rtnetlink cannot be read or `session`
// is null; every query given a null view fails. Without the address dump,
// the interface-address list holds the links alone and no per-address
// flags are known.
bcn_kernel_view_t* bcn_kernel_view_open(bcn_kernel_session_t* session, int ioctl_socket, bool with_addresses);
void bcn_kernel_view_close(bcn_kernel_view_t* view);

// One entry of a view's interface-address list, shaped like the C
// library's struct ifaddrs and filled the way it fills it: one entry per
// link in the order of the link dump (its hardware address as an AF_PACKET
// struct sockaddr_ll, null when the kernel gives the link none), then one
// per address in the order of the address dump (struct sockaddr_in or
// sockaddr_in6; a link-local IPv6 address carries its link's index as
// scope; the netmask is made from the prefix length). Addresses of other
// families have a name and flags but no socket addresses.
struct bcn_ifaddr_t {
  const char* name;                // the link's name, or the address's label
  std::uint32_t flags;             // Linux IFF_* flags of the link
  std::uint32_t link_index;        // index of the link a link entry describes; 0 for an address entry
  const struct sockaddr* address;  // null when none
  const struct sockaddr* netmask;  // null when no address
  const struct sockaddr* peer;     // broadcast address or point-to-point destination; null when none
};

// The interface-address list of `view`, valid until the view is closed;
// sets `*entries` and returns their number (0 and null for a null view).
std::size_t bcn_kernel_view_entries(const bcn_kernel_view_t* view, const bcn_ifaddr_t** entries);

// Statistics, MTU, type and line speed of the interface with this index.
// Fails when the index is not in the view or no longer carries `name`.
bool bcn_get_ifdata(bcn_kernel_view_t* view, std::uint32_t index, const char* name, bcn_ifdata_t* out);

// Media and link status from ethtool link settings for Ethernet devices,
// and IEEE802.11 autoselect for wireless ones. Fails for interfaces that
// report no media (loopback, tun, an idle bridge, any driver without link
// settings).
bool bcn_get_media(bcn_kernel_view_t* view, const char* name, bcn_media_t* out);
bool bcn_media_status_valid(std::int32_t status);
bool bcn_media_status_active(std::int32_t status);

// Writes the text of a media word into `buffer`, always zero-terminated and
// truncated to `size`; does nothing when size is 0.
void bcn_media_word_string(std::int32_t word, char* buffer, std::size_t size);

// What makes a link the one it is, as opposed to how it is set up now.
struct bcn_link_identity_t {
  // The kind of virtual link the kernel made (IFLA_INFO_KIND: "bridge",
  // "bond", "vlan", "veth", "tun" ...), zero-terminated; empty for hardware
  // ports and loopback, truncated to the buffer.
  char kind[32];
  // A bus device backs the link (a physical port, also a USB or virtio one).
  bool hardware_backed;
  // The address the driver read from the device (ethtool's permanent
  // address). Linux reports it since 5.6 and only when it is non-zero, so
  // virtual links and a device without one have length 0.
  std::uint8_t permanent_address[32];
  std::size_t permanent_address_length;
};

// The identity of the link `name`. Fails when the view has no such link.
bool bcn_get_link_identity(bcn_kernel_view_t* view, const char* name, bcn_link_identity_t* out);

// MTU through SIOCGIFMTU.
bool bcn_get_mtu(int socket, const char* name, std::uint32_t* out);

// Enabled ethtool features as capability bits (table in bcn_capabilities.cc).
bool bcn_get_curcap(bcn_kernel_view_t* view, const char* name, std::uint32_t* out);

// 0 unknown, 1 loopback, 2 wired, 3 Wi-Fi, 5 cellular.
bool bcn_get_functional_type(bcn_kernel_view_t* view, const char* name, std::uint32_t* out);

// ND6 flags from the interface's IPv6 configuration. Fails when the
// interface has no IPv6 state or `ipv6_socket` is negative (no IPv6 in
// this kernel).
bool bcn_get_nd6_flags(int ipv6_socket, bcn_kernel_view_t* view, const char* name, std::uint32_t* out);

// IN6_IFF flags of one IPv6 address of `name`. Fails without a lookup when
// `address` is null or not AF_INET6, or `ipv6_socket` is negative.
bool bcn_get_in6_addr_flags(int ipv6_socket, bcn_kernel_view_t* view, const char* name,
                            const struct sockaddr* address, std::uint32_t* out);

// Link-layer socket addresses (AF_PACKET, struct sockaddr_ll as getifaddrs
// hands them out). lladdr copies the hardware address and returns its
// length: 0 when the address is missing, not AF_PACKET, empty, longer than
// the buffer or longer than the 24 bytes the C library stores.
std::size_t bcn_sockaddr_dl_lladdr(const struct sockaddr* address, std::uint8_t* buffer, std::size_t size);
// The interface index, 0 when missing or not AF_PACKET. Linux indexes are
// 32-bit, so the full value is returned.
std::uint32_t bcn_sockaddr_dl_index(const struct sockaddr* address);
// The BSD interface type of the address's hardware type, 0 when missing or
// not AF_PACKET.
std::uint8_t bcn_sockaddr_dl_type(const struct sockaddr* address);

// BSD interface type number of a Linux ARPHRD_* hardware type.
std::uint8_t bcn_bsd_interface_type(std::uint16_t arphrd);

// BSD interface flags word of a Linux IFF_* flags word: bits 0x1-0x200 are
// the same on both; IFF_MULTICAST moves to 0x8000; Linux-only bits (master,
// slave, lower-up, dormant ...) are dropped.
std::uint32_t bcn_bsd_interface_flags(std::uint32_t linux_flags);

}  // extern "C"
