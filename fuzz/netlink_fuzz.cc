// One rtnetlink datagram as the inventory receives it: the first four bytes
// are the dump's sequence number, the rest the datagram. Both dump parsers
// must walk it without reading outside it (ASan watches the span's end,
// which is the end of the fuzzer's buffer), and the interface-address list
// built from what they decoded must only point at what the view holds.
#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "netcore/shim/bcn_interfaces.h"
#include "netcore/shim/kernel_view.h"
#include "netcore/shim/netlink_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t sequence;
  std::memcpy(&sequence, data, sizeof sequence);
  const std::span<const std::uint8_t> datagram(data + 4, size - 4);

  std::vector<bcn::shim::LinkRecord> links;
  (void)bcn::shim::parseLinkDump(datagram, sequence, links);
  std::vector<bcn::shim::AddressRecord> addresses;
  (void)bcn::shim::parseAddressDump(datagram, sequence, addresses);
  std::vector<bcn::shim::Inet6AddressRecord> inet6;
  (void)bcn::shim::parseInet6AddressDump(datagram, sequence, inet6);

  bcn_kernel_view view;
  bcn::shim::indexKernelView(view, std::move(links), std::move(addresses));
  const bcn_ifaddr_t* entries = nullptr;
  const std::size_t count = bcn_kernel_view_entries(&view, &entries);
  std::size_t touched = 0;
  for (std::size_t i = 0; i < count; ++i) {
    touched += std::strlen(entries[i].name);
    std::uint8_t hardware[32];
    touched += bcn_sockaddr_dl_lladdr(entries[i].address, hardware, sizeof hardware);
    for (const sockaddr* a : {entries[i].address, entries[i].netmask, entries[i].peer}) {
      if (a != nullptr) touched += a->sa_family;
    }
  }
  // Kept, so the reads above are made.
  volatile std::size_t sink = touched;
  (void)sink;
  return 0;
}
