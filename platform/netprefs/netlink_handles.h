// Owning handles for libnl objects, shared by the platform code that talks
// rtnetlink. Each handle frees its object on every path out of a function.
#pragma once

#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>

#include <memory>

namespace bcn::netlink {

struct SocketDeleter {
  void operator()(nl_sock* sock) const { nl_socket_free(sock); }
};
struct CacheDeleter {
  void operator()(nl_cache* cache) const { nl_cache_free(cache); }
};
struct LinkDeleter {
  void operator()(rtnl_link* link) const { rtnl_link_put(link); }
};
using Socket = std::unique_ptr<nl_sock, SocketDeleter>;
using Cache = std::unique_ptr<nl_cache, CacheDeleter>;
using Link = std::unique_ptr<rtnl_link, LinkDeleter>;

// A socket connected to NETLINK_ROUTE, or null.
inline Socket connectRoute() {
  Socket sock(nl_socket_alloc());
  if (!sock || nl_connect(sock.get(), NETLINK_ROUTE) < 0) return nullptr;
  return sock;
}

// Calls `visit` with every object of `cache`, in cache order.
template <typename Visit>
void forEachObject(nl_cache* cache, Visit visit) {
  for (nl_object* obj = nl_cache_get_first(cache); obj != nullptr; obj = nl_cache_get_next(obj)) {
    visit(obj);
  }
}

}  // namespace bcn::netlink
