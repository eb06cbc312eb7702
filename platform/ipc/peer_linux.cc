#include "platform/ipc/peer.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

// Older C library headers lack it; the kernel has had it since 6.5.
#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace bcn::ipc {

std::optional<PeerCredentials> readPeerCredentials(int socket) {
  ucred cred{};
  socklen_t length = sizeof cred;
  if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof cred) {
    return std::nullopt;
  }
  return PeerCredentials{static_cast<std::int32_t>(cred.pid), cred.uid, cred.gid};
}

int readPeerPidfd(int socket) {
  int pidfd = -1;
  socklen_t length = sizeof pidfd;
  if (::getsockopt(socket, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) != 0 || length != sizeof pidfd) {
    return -1;
  }
  return pidfd;
}

bool tagSenders(int socket) {
  const int on = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0;
}

std::expected<Received, int> receiveTagged(int socket, std::span<std::uint8_t> buffer) {
  iovec vector{buffer.data(), buffer.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
  msghdr message{};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t n;
  do {
    n = ::recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return std::unexpected(errno);
  Received received{static_cast<std::size_t>(n), 0};
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS &&
        header->cmsg_len == CMSG_LEN(sizeof(ucred))) {
      ucred cred{};
      std::memcpy(&cred, CMSG_DATA(header), sizeof cred);
      received.senderPid = cred.pid;
    }
  }
  return received;
}

std::optional<ProcessIdentity> readPeerIdentity(std::int32_t pid, int pidfd) {
  auto identity = ProcessIdentity::of(pid);
  // The pidfd names the peer itself: if it is still running after the read,
  // the pid cannot have been handed to another process meanwhile.
  if (pidfd >= 0 && pidfdExited(pidfd)) return std::nullopt;
  return identity;
}

}  // namespace bcn::ipc
