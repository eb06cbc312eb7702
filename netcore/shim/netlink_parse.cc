#include "netcore/shim/netlink_parse.h"

#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/ipv6.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstring>

#include "netcore/c_string.h"

namespace bcn::shim {
namespace {

using Bytes = std::span<const std::uint8_t>;

template <typename T>
T load(Bytes bytes, std::size_t offset = 0) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

constexpr std::size_t align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// Calls visit(type, payload) for each well-formed attribute of `bytes`.
template <typename Visit>
void forEachAttribute(Bytes bytes, Visit&& visit) {
  const std::uint8_t* at = bytes.data();
  std::size_t left = bytes.size();
  while (left >= sizeof(rtattr)) {
    std::uint16_t length, type;
    std::memcpy(&length, at + offsetof(rtattr, rta_len), sizeof length);
    std::memcpy(&type, at + offsetof(rtattr, rta_type), sizeof type);
    if (length < sizeof(rtattr) || length > left) return;
    visit(static_cast<std::uint16_t>(type & NLA_TYPE_MASK), Bytes(at + sizeof(rtattr), length - sizeof(rtattr)));
    const std::size_t step = align4(length);
    if (step >= left) return;
    at += step;
    left -= step;
  }
}

std::optional<std::uint32_t> u32(Bytes payload) {
  if (payload.size() < sizeof(std::uint32_t)) return std::nullopt;
  return load<std::uint32_t>(payload);
}

std::optional<std::int32_t> devconf(Bytes conf, int index) {
  const std::size_t at = static_cast<std::size_t>(index) * sizeof(std::int32_t);
  if (conf.size() < at + sizeof(std::int32_t)) return std::nullopt;
  return load<std::int32_t>(conf, at);
}

Inet6Settings decodeInet6Conf(Bytes conf) {
  Inet6Settings s;
  s.forwarding = devconf(conf, DEVCONF_FORWARDING).value_or(0);
  s.acceptRa = devconf(conf, DEVCONF_ACCEPT_RA).value_or(0);
  s.proxyNdp = devconf(conf, DEVCONF_PROXY_NDP).value_or(0);
  s.disableIpv6 = devconf(conf, DEVCONF_DISABLE_IPV6).value_or(0);
  s.acceptDad = devconf(conf, DEVCONF_ACCEPT_DAD).value_or(0);
  s.dropUnsolicitedNa = devconf(conf, DEVCONF_DROP_UNSOLICITED_NA).value_or(0);
  return s;
}

// The top-level link attributes decodeLinkAttribute reads; a link carries
// some fifty, and the rest are passed over without a call.
constexpr std::uint64_t kLinkAttributesRead =
    (1ULL << IFLA_ADDRESS) | (1ULL << IFLA_IFNAME) | (1ULL << IFLA_MTU) | (1ULL << IFLA_STATS64) |
    (1ULL << IFLA_PARENT_DEV_NAME) | (1ULL << IFLA_PERM_ADDRESS) | (1ULL << IFLA_LINKINFO) | (1ULL << IFLA_AF_SPEC);
static_assert(IFLA_PARENT_DEV_NAME < 64 && IFLA_PERM_ADDRESS < 64);

void decodeLinkAttribute(std::uint16_t type, Bytes payload, LinkRecord& link) {
  if (type >= 64 || ((kLinkAttributesRead >> type) & 1) == 0) return;
  switch (type) {
    case IFLA_IFNAME:
      link.name = decodeCString(payload);
      break;
    case IFLA_MTU:
      if (auto v = u32(payload)) link.mtu = *v;
      break;
    case IFLA_STATS64:
      if (payload.size() >= sizeof(LinkStats)) link.stats = load<LinkStats>(payload);
      break;
    case IFLA_PARENT_DEV_NAME:
      link.hasParentDevice = true;
      break;
    case IFLA_ADDRESS:
      if (payload.size() <= link.hardwareAddress.size()) {
        link.hasHardwareAddress = true;
        link.hardwareAddressLength = static_cast<std::uint8_t>(payload.size());
        if (!payload.empty()) std::memcpy(link.hardwareAddress.data(), payload.data(), payload.size());
      }
      break;
    case IFLA_PERM_ADDRESS:
      if (!payload.empty() && payload.size() <= kMaxPermanentAddress) {
        link.permanentAddress.assign(payload.begin(), payload.end());
      }
      break;
    case IFLA_LINKINFO:
      forEachAttribute(payload, [&](std::uint16_t t, Bytes p) {
        if (t == IFLA_INFO_KIND) link.kind = decodeCString(p);
      });
      break;
    case IFLA_AF_SPEC:
      forEachAttribute(payload, [&](std::uint16_t family, Bytes p) {
        if (family != AF_INET6) return;
        Inet6Settings settings;
        bool seen = false;
        forEachAttribute(p, [&](std::uint16_t t, Bytes q) {
          if (t == IFLA_INET6_CONF) {
            settings = decodeInet6Conf(q);
            seen = true;
          }
        });
        if (seen) link.inet6 = settings;
      });
      break;
    default:
      break;
  }
}

// Walks the netlink messages of one datagram; `visit` gets the payload of
// each message of `messageType` and `sequence`.
template <typename Visit>
DumpStatus forEachMessage(Bytes datagram, std::uint32_t sequence, std::uint16_t messageType, Visit&& visit) {
  std::size_t offset = 0;
  while (datagram.size() - offset >= sizeof(nlmsghdr)) {
    const auto header = load<nlmsghdr>(datagram, offset);
    if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > datagram.size() - offset) break;
    const Bytes payload =
        datagram.subspan(offset + sizeof(nlmsghdr), header.nlmsg_len - sizeof(nlmsghdr));
    offset += align4(header.nlmsg_len);
    if (header.nlmsg_seq != sequence) {
      if (offset > datagram.size()) break;
      continue;
    }
    if (header.nlmsg_type == NLMSG_DONE) return DumpStatus::kDone;
    if (header.nlmsg_type == NLMSG_ERROR) {
      // An acknowledgement (code 0) is not a failure; anything else is, and
      // so is an error message too short to carry its code.
      if (payload.size() < sizeof(std::int32_t) || load<std::int32_t>(payload) != 0) {
        return DumpStatus::kError;
      }
    } else if (header.nlmsg_type == messageType) {
      visit(payload);
    }
    if (offset > datagram.size()) break;
  }
  return DumpStatus::kMore;
}

}  // namespace

DumpStatus parseLinkDump(Bytes datagram, std::uint32_t sequence, std::vector<LinkRecord>& out) {
  return forEachMessage(datagram, sequence, RTM_NEWLINK, [&](Bytes payload) {
    if (payload.size() < sizeof(ifinfomsg)) return;
    const auto info = load<ifinfomsg>(payload);
    if (info.ifi_index == 0) return;
    // Decoded in place: a record is large, and moving one in costs more
    // than most of its attributes.
    LinkRecord& link = out.emplace_back();
    link.index = static_cast<std::uint32_t>(info.ifi_index);
    link.hardwareType = info.ifi_type;
    link.flags = info.ifi_flags;
    static_assert(sizeof(ifinfomsg) % 4 == 0 && sizeof(ifaddrmsg) % 4 == 0);
    forEachAttribute(payload.subspan(sizeof(ifinfomsg)),
                     [&](std::uint16_t type, Bytes p) { decodeLinkAttribute(type, p, link); });
  });
}

namespace {

std::size_t addressSize(std::uint8_t family) {
  return family == AF_INET ? 4 : family == AF_INET6 ? 16 : 0;
}

void decodeAddressAttribute(std::uint16_t type, Bytes p, AddressRecord& record) {
  const std::size_t size = addressSize(record.family);
  switch (type) {
    case IFA_ADDRESS:
      if (size == 0 || p.size() != size) break;
      if (record.hasAddress) {
        std::memcpy(record.peer.data(), p.data(), size);
        record.hasPeer = true;
      } else {
        std::memcpy(record.address.data(), p.data(), size);
        record.hasAddress = true;
      }
      break;
    case IFA_LOCAL:
      if (size == 0 || p.size() != size) break;
      if (record.hasAddress) {
        record.peer = record.address;
        record.hasPeer = true;
      }
      std::memcpy(record.address.data(), p.data(), size);
      record.hasAddress = true;
      break;
    case IFA_BROADCAST:
      if (size == 0 || p.size() != size) break;
      record.peer = {};
      std::memcpy(record.peer.data(), p.data(), size);
      record.hasPeer = true;
      break;
    case IFA_LABEL:
      record.label = decodeCString(p);
      break;
    case IFA_FLAGS:
      if (auto v = u32(p)) record.flags = *v;
      break;
    case IFA_PROTO:
      if (!p.empty()) record.protocol = p[0];
      break;
    default:
      break;
  }
}

}  // namespace

DumpStatus parseAddressDump(Bytes datagram, std::uint32_t sequence, std::vector<AddressRecord>& out) {
  return forEachMessage(datagram, sequence, RTM_NEWADDR, [&](Bytes payload) {
    if (payload.size() < sizeof(ifaddrmsg)) return;
    const auto info = load<ifaddrmsg>(payload);
    AddressRecord& record = out.emplace_back();
    record.family = info.ifa_family;
    record.prefixLength = info.ifa_prefixlen;
    record.index = info.ifa_index;
    record.flags = info.ifa_flags;
    forEachAttribute(payload.subspan(sizeof(ifaddrmsg)),
                     [&](std::uint16_t type, Bytes p) { decodeAddressAttribute(type, p, record); });
  });
}

DumpStatus parseInet6AddressDump(Bytes datagram, std::uint32_t sequence,
                                 std::vector<Inet6AddressRecord>& out) {
  std::vector<AddressRecord> all;
  const DumpStatus status = parseAddressDump(datagram, sequence, all);
  for (const AddressRecord& a : all) {
    if (a.family != AF_INET6 || !a.hasAddress) continue;
    out.push_back(Inet6AddressRecord{a.index, a.address, a.flags, a.protocol});
  }
  return status;
}

}  // namespace bcn::shim
