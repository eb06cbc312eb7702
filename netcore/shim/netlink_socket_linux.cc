#include "netcore/shim/netlink_socket_linux.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bcn::shim {
namespace {

// Large enough that the kernel, which sizes its dump datagrams to what the
// reader asks for, packs a namespace of a few hundred links into a handful.
constexpr std::size_t kReceiveBufferSize = 64 * 1024;

// Bounds the clean-up after a failed dump; each read releases at most one
// more datagram of it.
constexpr int kMaxDrainReads = 1 << 16;

}  // namespace

NetlinkSocket::NetlinkSocket()
    : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)),
      buffer_(new std::uint8_t[kReceiveBufferSize]) {
  // Connected to the kernel, the socket refuses datagrams from anyone else
  // (another process could otherwise feed a dump), so a plain recv needs no
  // sender check.
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

NetlinkSocket::~NetlinkSocket() {
  if (fd_ >= 0) close(fd_);
}

bool NetlinkSocket::request(std::uint16_t type, std::uint8_t family, std::uint32_t sequence) {
  if (fd_ < 0) return false;
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
  for (;;) {
    if (send(fd_, &req, sizeof req, 0) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

std::span<const std::uint8_t> NetlinkSocket::receive() {
  for (;;) {
    // MSG_TRUNC makes a datagram too long for the buffer report its full
    // length, so it is seen and refused rather than read cut short.
    const ssize_t n = recv(fd_, buffer_.get(), kReceiveBufferSize, MSG_TRUNC);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    if (static_cast<std::size_t>(n) > kReceiveBufferSize) return {};
    return {buffer_.get(), static_cast<std::size_t>(n)};
  }
}

void NetlinkSocket::drain() {
  for (int i = 0; i < kMaxDrainReads; ++i) {
    const ssize_t n = recv(fd_, buffer_.get(), kReceiveBufferSize, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
  }
}

}  // namespace bcn::shim
