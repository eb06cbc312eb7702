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
      buffer_(new std::uint8_t[kReceiveBufferSize]) {}

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
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  for (;;) {
    if (sendto(fd_, &req, sizeof req, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

std::span<const std::uint8_t> NetlinkSocket::receive() {
  for (;;) {
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
      return {};
    }
    if ((msg.msg_flags & MSG_TRUNC) != 0) return {};
    if (from.nl_pid != 0) return {buffer_.get(), 0};  // only the kernel answers dumps
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
