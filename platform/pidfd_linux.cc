#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/pidfd.h"

namespace bcn {

int openPidfd(std::int32_t pid) {
  if (pid <= 0) {
    errno = ESRCH;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool pidfdExited(int pidfd) {
  pollfd p{pidfd, POLLIN, 0};
  return ::poll(&p, 1, 0) != 0;
}

}  // namespace bcn
