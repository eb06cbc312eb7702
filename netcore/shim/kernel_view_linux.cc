// Reading the two rtnetlink dumps that a kernel view is made of, and the
// view's on-demand answers.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if_arp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "netcore/shim/bcn_interfaces.h"
#include "netcore/shim/ethtool_linux.h"
#include "netcore/shim/kernel_view.h"

namespace {

using bcn::shim::DumpStatus;

constexpr std::size_t kReceiveBufferSize = 64 * 1024;
// A dump that never ends (a kernel or peer gone wrong) must not hang a
// reading; no real namespace needs this many datagrams.
constexpr int kMaxDatagrams = 1 << 16;

class NetlinkSocket {
 public:
  NetlinkSocket() : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
  ~NetlinkSocket() {
    if (fd_ >= 0) close(fd_);
  }
  NetlinkSocket(const NetlinkSocket&) = delete;
  NetlinkSocket& operator=(const NetlinkSocket&) = delete;

  bool valid() const { return fd_ >= 0; }

  // Sends one dump request of `type` for `family` and feeds every datagram
  // of the answer to `parse` until it reports the end.
  template <typename Parse>
  bool dump(std::uint16_t type, std::uint8_t family, std::uint32_t sequence, Parse&& parse) {
    struct {
      nlmsghdr header;
      ifinfomsg body;  // large enough for ifaddrmsg too; only the family is read
    } req;
    std::memset(&req, 0, sizeof req);
    req.header.nlmsg_len = sizeof req;
    req.header.nlmsg_type = type;
    req.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.header.nlmsg_seq = sequence;
    req.body.ifi_family = family;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd_, &req, sizeof req, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
      return false;
    }
    for (int i = 0; i < kMaxDatagrams; ++i) {
      sockaddr_nl from{};
      iovec iov{buffer_.get(), kReceiveBufferSize};
      msghdr msg{};
      msg.msg_name = &from;
      msg.msg_namelen = sizeof from;
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      const ssize_t n = recvmsg(fd_, &msg, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if ((msg.msg_flags & MSG_TRUNC) != 0) return false;
      if (from.nl_pid != 0) continue;  // only the kernel answers dumps
      switch (parse(std::span<const std::uint8_t>(buffer_.get(), static_cast<std::size_t>(n)), sequence)) {
        case DumpStatus::kDone: return true;
        case DumpStatus::kError: return false;
        case DumpStatus::kMore: break;
      }
    }
    return false;
  }

 private:
  int fd_;
  std::unique_ptr<std::uint8_t[]> buffer_{new std::uint8_t[kReceiveBufferSize]()};
};

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool ueventSays(const std::string& name, const char* line) {
  const std::string path = "/sys/class/net/" + name + "/uevent";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[1024] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return false;
  return std::strstr(text, line) != nullptr;
}

}  // namespace

std::size_t bcn_kernel_view::AddressKeyHash::operator()(const AddressKey& k) const noexcept {
  std::size_t h = k.index;
  for (std::uint8_t b : k.address) h = h * 131 + b;
  return h;
}

const bcn::shim::LinkRecord* bcn_kernel_view::link(const char* name) const {
  if (name == nullptr) return nullptr;
  auto it = byName.find(name);
  return it == byName.end() ? nullptr : &links[it->second];
}

const bcn::shim::LinkRecord* bcn_kernel_view::link(std::uint32_t index) const {
  auto it = byIndex.find(index);
  return it == byIndex.end() ? nullptr : &links[it->second];
}

const bcn_kernel_view::EthtoolAnswer& bcn_kernel_view::ethtoolAnswer(const bcn::shim::LinkRecord& l) {
  auto [it, inserted] = ethtool.try_emplace(l.index);
  if (inserted && l.hardwareType == ARPHRD_ETHER) {
    it->second.settings = bcn::shim::ethtoolLinkSettings(ioctlSocket, l.name.c_str(), linkModeMaskWords);
    // The carrier is in the dump already (IFF_LOWER_UP, what ETHTOOL_GLINK
    // reports for nearly every driver), which saves a request per device.
    constexpr std::uint32_t kLowerUp = 0x10000;
    it->second.link = (l.flags & kLowerUp) != 0;
  }
  return it->second;
}

std::uint32_t bcn_kernel_view::functionalType(const bcn::shim::LinkRecord& l) {
  auto [it, inserted] = functionalTypes.try_emplace(l.index, 0);
  if (!inserted) return it->second;
  std::uint32_t type = 0;
  if (l.hardwareType == ARPHRD_LOOPBACK) {
    type = 1;
  } else if (l.kind == "wwan") {
    type = 5;
  } else if (l.hasParentDevice) {
    // Only devices backed by hardware are looked up in sysfs, so a
    // namespace full of virtual links costs no file system access.
    const std::string base = "/sys/class/net/" + l.name;
    if (exists(base + "/phy80211") || exists(base + "/wireless")) {
      type = 3;
    } else if (l.hardwareType == ARPHRD_RAWIP || l.hardwareType == ARPHRD_NONE ||
               ueventSays(l.name, "DEVTYPE=wwan")) {
      type = 5;
    } else if (l.hardwareType == ARPHRD_ETHER) {
      type = 2;
    }
  }
  it->second = type;
  return type;
}

namespace bcn::shim {

void indexKernelView(bcn_kernel_view& view, std::vector<LinkRecord> links,
                     const std::vector<Inet6AddressRecord>& addresses) {
  view.links = std::move(links);
  for (std::size_t i = 0; i < view.links.size(); ++i) {
    view.byIndex[view.links[i].index] = i;
    view.byName[view.links[i].name] = i;
  }
  for (const Inet6AddressRecord& a : addresses) {
    view.inet6Addresses.emplace(bcn_kernel_view::AddressKey{a.index, a.address}, a);
  }
}

}  // namespace bcn::shim

extern "C" {

bcn_kernel_view_t* bcn_kernel_view_open(int ioctl_socket) {
  NetlinkSocket netlink;
  if (!netlink.valid()) return nullptr;
  std::vector<bcn::shim::LinkRecord> links;
  std::vector<bcn::shim::Inet6AddressRecord> addresses;
  const bool linksRead = netlink.dump(RTM_GETLINK, AF_UNSPEC, 1,
                                      [&](std::span<const std::uint8_t> d, std::uint32_t seq) {
                                        return bcn::shim::parseLinkDump(d, seq, links);
                                      });
  if (!linksRead) return nullptr;
  // Without the address dump the view still answers everything but the
  // per-address flags.
  const bool addressesRead = netlink.dump(RTM_GETADDR, AF_INET6, 2,
                                          [&](std::span<const std::uint8_t> d, std::uint32_t seq) {
                                            return bcn::shim::parseInet6AddressDump(d, seq, addresses);
                                          });
  if (!addressesRead) addresses.clear();
  auto view = std::make_unique<bcn_kernel_view>();
  view->ioctlSocket = ioctl_socket;
  bcn::shim::indexKernelView(*view, std::move(links), addresses);
  return view.release();
}

void bcn_kernel_view_close(bcn_kernel_view_t* view) { delete view; }

}  // extern "C"
