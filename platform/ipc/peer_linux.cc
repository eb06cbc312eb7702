#include "platform/ipc/peer.h"

#include <sys/socket.h>

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

std::optional<ProcessIdentity> readPeerIdentity(std::int32_t pid, int pidfd) {
  auto identity = ProcessIdentity::of(pid);
  // The pidfd names the peer itself: if it is still running after the read,
  // the pid cannot have been handed to another process meanwhile.
  if (pidfd >= 0 && pidfdExited(pidfd)) return std::nullopt;
  return identity;
}

}  // namespace bcn::ipc
