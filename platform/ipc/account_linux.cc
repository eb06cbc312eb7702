#include "platform/ipc/account.h"

#include <fcntl.h>
#include <linux/nsfs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/pidfd.h"

namespace bcn::ipc {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

bool sameNamespace(int a, int b) {
  struct stat first{};
  struct stat second{};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// Far deeper than the kernel allows (32), so the walk always ends.
constexpr int kMaxDepth = 64;

}  // namespace

std::optional<std::uint32_t> accountableUID(std::int32_t pid, int pidfd, std::uint32_t uid) {
  static const int own = ::open("/proc/self/ns/user", O_RDONLY | O_CLOEXEC);
  if (own < 0 || pid <= 0) return std::nullopt;
  Descriptor current(::open(("/proc/" + std::to_string(pid) + "/ns/user").c_str(), O_RDONLY | O_CLOEXEC));
  if (current.get() < 0) return std::nullopt;
  // Opened by pid: only if the peer still runs afterwards is it the peer's.
  // Without a pidfd there is no telling, so the namespace is not believed.
  if (pidfd < 0 || pidfdExited(pidfd)) return std::nullopt;
  if (sameNamespace(current.get(), own)) return uid;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    Descriptor parent(::ioctl(current.get(), NS_GET_PARENT));
    if (parent.get() < 0) return std::nullopt;
    if (sameNamespace(parent.get(), own)) {
      uid_t owner = 0;
      if (::ioctl(current.get(), NS_GET_OWNER_UID, &owner) != 0) return std::nullopt;
      return static_cast<std::uint32_t>(owner);
    }
    current = std::move(parent);
  }
  return std::nullopt;
}

}  // namespace bcn::ipc
