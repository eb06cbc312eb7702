#include "platform/dynstore/kernel_state.h"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/route.h>


#include "platform/netprefs/netlink_handles.h"

namespace bcn::dynstore {
namespace {

using netlink::Cache;
using netlink::forEachObject;

std::optional<std::string> addressText(nl_addr* address) {
  if (address == nullptr) return std::nullopt;
  const int family = nl_addr_get_family(address);
  const unsigned length = nl_addr_get_len(address);
  if ((family == AF_INET && length != 4) || (family == AF_INET6 && length != 16)) return std::nullopt;
  char text[INET6_ADDRSTRLEN] = {};
  if (::inet_ntop(family, nl_addr_get_binary_addr(address), text, sizeof text) == nullptr) {
    return std::nullopt;
  }
  return std::string(text);
}

bool readAddresses(nl_sock* sock, std::vector<KernelAddress>& out) {
  nl_cache* raw = nullptr;
  if (rtnl_addr_alloc_cache(sock, &raw) < 0) return false;
  Cache cache(raw);
  forEachObject(cache.get(), [&](nl_object* obj) {
    auto* addr = reinterpret_cast<rtnl_addr*>(obj);
    const int family = rtnl_addr_get_family(addr);
    if (family != AF_INET && family != AF_INET6) return;
    const std::optional<std::string> text = addressText(rtnl_addr_get_local(addr));
    if (!text) return;
    out.push_back({rtnl_addr_get_ifindex(addr), family, *text,
                   static_cast<std::uint8_t>(rtnl_addr_get_prefixlen(addr))});
  });
  return true;
}

bool readDefaultRoutes(nl_sock* sock, std::vector<KernelDefaultRoute>& out) {
  nl_cache* raw = nullptr;
  if (rtnl_route_alloc_cache(sock, AF_UNSPEC, 0, &raw) < 0) return false;
  Cache cache(raw);
  forEachObject(cache.get(), [&](nl_object* obj) {
    auto* route = reinterpret_cast<rtnl_route*>(obj);
    const int family = rtnl_route_get_family(route);
    if (family != AF_INET && family != AF_INET6) return;
    if (rtnl_route_get_table(route) != RT_TABLE_MAIN || rtnl_route_get_type(route) != RTN_UNICAST) return;
    nl_addr* destination = rtnl_route_get_dst(route);
    if (destination != nullptr && nl_addr_get_prefixlen(destination) != 0) return;
    if (rtnl_route_get_nnexthops(route) < 1) return;
    rtnl_nexthop* hop = rtnl_route_nexthop_n(route, 0);
    const int index = rtnl_route_nh_get_ifindex(hop);
    if (index <= 0) return;
    out.push_back({family, index, rtnl_route_get_priority(route),
                   addressText(rtnl_route_nh_get_gateway(hop))});
  });
  return true;
}

}  // namespace

std::optional<KernelState> readKernelState() {
  KernelState state;
  std::optional<std::vector<netprefs::KernelLink>> links = netprefs::readKernelLinks();
  if (!links) return std::nullopt;
  state.links = std::move(*links);
  netlink::Socket sock = netlink::connectRoute();
  if (!sock) return std::nullopt;
  if (!readAddresses(sock.get(), state.addresses)) return std::nullopt;
  if (!readDefaultRoutes(sock.get(), state.defaultRoutes)) return std::nullopt;
  return state;
}

}  // namespace bcn::dynstore
