// Who a peer's connections count against when the server caps them.
//
// A user may hold many uids: every uid in its /etc/subuid range can be
// mapped inside a user namespace it creates, and a process there connects
// with one of those uids. Counting by uid would let one person multiply
// any per-user cap by the size of their range. A peer whose process lives
// in a user namespace other than the server's own is therefore counted
// against the uid that owns the outermost namespace of its chain (the one
// whose parent is the server's): the person who made it.
//
// Thread-safe, stateless. Needs the rights to open another user's
// /proc/<pid>/ns/user (root, or the same user).
#pragma once

#include <cstdint>
#include <optional>

namespace bcn::ipc {

// The uid that `pid` (reached through `pidfd`, so that a reused pid is
// never read) counts against: `uid` itself when the process shares the
// server's user namespace, otherwise the owner of the outermost foreign
// namespace. Nothing when the process has gone or its namespace cannot be
// read; callers then fall back to `uid`.
std::optional<std::uint32_t> accountableUID(std::int32_t pid, int pidfd, std::uint32_t uid);

}  // namespace bcn::ipc
