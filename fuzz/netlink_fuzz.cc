// One rtnetlink datagram as the inventory receives it: the first four bytes
// are the dump's sequence number, the rest the datagram. Both dump parsers
// must walk it without reading outside it (ASan watches the span's end,
// which is the end of the fuzzer's buffer).
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "netcore/shim/netlink_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t sequence;
  std::memcpy(&sequence, data, sizeof sequence);
  const std::span<const std::uint8_t> datagram(data + 4, size - 4);

  std::vector<bcn::shim::LinkRecord> links;
  (void)bcn::shim::parseLinkDump(datagram, sequence, links);
  std::vector<bcn::shim::Inet6AddressRecord> addresses;
  (void)bcn::shim::parseInet6AddressDump(datagram, sequence, addresses);
  return 0;
}
