// Who is at the other end of an accepted Unix-socket connection, read once
// when the connection is accepted and fixed for its life.
//
// The kernel records the connecting process's credentials at connect time
// (SO_PEERCRED). Where the kernel has SO_PEERPIDFD it also hands us a pidfd
// for that process, which stays bound to it even after its pid is reused.
// Thread-safe, stateless readers.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "platform/authorization/process_identity.h"

namespace bcn::ipc {

struct PeerCredentials {
  std::int32_t pid = 0;
  std::uint32_t uid = 0;  // effective user id at connect time
  std::uint32_t gid = 0;

  bool operator==(const PeerCredentials&) const = default;
  auto operator<=>(const PeerCredentials&) const = default;
};

// What a service learns about a peer. `pidfd` belongs to the connection
// and stays open while it lives; -1 where the kernel gives none.
struct Peer {
  PeerCredentials credentials;
  int pidfd = -1;
  // The connecting process named beyond pid reuse; absent when it had
  // already gone by the time it was accepted.
  std::optional<ProcessIdentity> identity;
  // Whom the connection counts against in the server's caps (account.h):
  // the uid, or the owner of the user namespace the peer connected from.
  std::uint32_t accountUID = 0;
};

std::optional<PeerCredentials> readPeerCredentials(int socket);

// A new pidfd for the peer of `socket` (the caller closes it), or -1.
int readPeerPidfd(int socket);

// The peer's process identity, checked against `pidfd` (when there is one)
// so that a process that exited and gave its pid away is never named.
std::optional<ProcessIdentity> readPeerIdentity(std::int32_t pid, int pidfd);

// Asks the kernel to tag what arrives on `socket` with the process that
// sent it (SO_PASSCRED). Set on a listening socket, it is inherited by the
// connections accepted from it and covers bytes sent before the accept.
// False (errno set) when refused.
bool tagSenders(int socket);

// What one receive took from a socket: its bytes came from one process,
// `senderPid` (0 when the kernel did not say who sent them).
struct Received {
  std::size_t length = 0;
  std::int32_t senderPid = 0;
};

// Receives what is there from `socket` without waiting, never mixing bytes
// of two senders. Length 0 is the end of the stream; the error is an errno
// (EAGAIN: nothing there yet).
std::expected<Received, int> receiveTagged(int socket, std::span<std::uint8_t> buffer);

}  // namespace bcn::ipc

template <>
struct std::hash<bcn::ipc::PeerCredentials> {
  std::size_t operator()(const bcn::ipc::PeerCredentials& c) const noexcept {
    return (std::hash<std::int64_t>()(c.pid) * 31 + c.uid) * 31 + c.gid;
  }
};
