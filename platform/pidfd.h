// pidfds: descriptors that stay bound to one process even after its pid is
// given to another, and become readable when that process ends.
// Thread-safe, stateless functions.
#pragma once

#include <cstdint>

namespace bcn {

// A pidfd for `pid` (close it when done), or -1 with errno set: ENOSYS where
// the kernel has none, ESRCH when the process is gone.
int openPidfd(std::int32_t pid);

// Whether the process behind `pidfd` has ended.
bool pidfdExited(int pidfd);

}  // namespace bcn
