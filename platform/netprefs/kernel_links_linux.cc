#include "platform/netprefs/kernel_links.h"

#include <net/if.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/netprefs/netlink_handles.h"

namespace bcn::netprefs {
namespace {

using netlink::Cache;
using netlink::Link;
using netlink::Socket;
using netlink::connectRoute;

bool hasWirelessDirectory(const std::string& name) {
  struct stat st {};
  const std::string path = "/sys/class/net/" + name + "/wireless";
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

KernelLink toKernelLink(rtnl_link* link) {
  KernelLink out;
  out.index = rtnl_link_get_ifindex(link);
  if (const char* name = rtnl_link_get_name(link)) out.name = name;
  const unsigned flags = rtnl_link_get_flags(link);
  out.up = (flags & IFF_UP) != 0;
  out.running = (flags & IFF_RUNNING) != 0;
  out.loopback = (flags & IFF_LOOPBACK) != 0;
  out.arpType = rtnl_link_get_arptype(link);
  if (const char* kind = rtnl_link_get_type(link)) out.kind = kind;
  if (nl_addr* address = rtnl_link_get_addr(link)) {
    out.hardwareAddress =
        formatHardwareAddress(static_cast<const std::uint8_t*>(nl_addr_get_binary_addr(address)),
                              nl_addr_get_len(address));
  }
  out.wireless = !out.name.empty() && hasWirelessDirectory(out.name);
  return out;
}

// Keeps the errno of the kernel's refusal, which libnl would otherwise fold
// into its own coarser codes ("Unspecific failure" for most of them).
int recordKernelError(sockaddr_nl*, nlmsgerr* error, void* kernelErrno) {
  *static_cast<int*>(kernelErrno) = -error->error;
  return NL_STOP;
}

}  // namespace

std::string formatHardwareAddress(const std::uint8_t* bytes, std::size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    if (i > 0) text += ':';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xf];
  }
  return text;
}

std::optional<std::vector<KernelLink>> readKernelLinks() {
  Socket sock = connectRoute();
  if (!sock) return std::nullopt;
  nl_cache* raw = nullptr;
  if (rtnl_link_alloc_cache(sock.get(), AF_UNSPEC, &raw) < 0) return std::nullopt;
  Cache cache(raw);
  std::vector<KernelLink> links;
  netlink::forEachObject(cache.get(), [&](nl_object* obj) {
    links.push_back(toKernelLink(reinterpret_cast<rtnl_link*>(obj)));
  });
  std::ranges::sort(links, {}, &KernelLink::index);
  return links;
}

std::expected<void, PlatformError> setKernelLinkUp(std::string_view name, bool up) {
  const std::string what = std::string(up ? "bring link " : "take link ") + std::string(name) + (up ? " up" : " down");
  if (name.empty() || name.size() >= IFNAMSIZ) return std::unexpected(PlatformError::fromErrno(EINVAL, what));
  Socket sock = connectRoute();
  if (!sock) return std::unexpected(PlatformError::fromErrno(errno != 0 ? errno : EIO, what + ": rtnetlink"));
  int kernelErrno = 0;
  nl_socket_modify_err_cb(sock.get(), NL_CB_CUSTOM, recordKernelError, &kernelErrno);
  auto failed = [&](int libnlError) {
    if (kernelErrno != 0) return PlatformError::fromErrno(kernelErrno, what);
    return PlatformError{"NetlinkErrorDomain", -libnlError, what + ": " + nl_geterror(libnlError)};
  };
  rtnl_link* current = nullptr;
  if (const int got = rtnl_link_get_kernel(sock.get(), 0, std::string(name).c_str(), &current); got < 0) {
    return std::unexpected(failed(got));
  }
  Link original(current);
  Link change(rtnl_link_alloc());
  if (!change) return std::unexpected(PlatformError::fromErrno(ENOMEM, what));
  if (up) {
    rtnl_link_set_flags(change.get(), IFF_UP);
  } else {
    rtnl_link_unset_flags(change.get(), IFF_UP);
  }
  kernelErrno = 0;
  if (const int changed = rtnl_link_change(sock.get(), original.get(), change.get(), 0); changed < 0) {
    return std::unexpected(failed(changed));
  }
  return {};
}

}  // namespace bcn::netprefs
