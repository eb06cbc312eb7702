// Tunnel owners from /proc. The walk costs one readlink per descriptor in
// the system; fdinfo is read only for descriptors that are links to the
// tun device, which are few.
#include "netcore/shim/bcn_utun_owners.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "netcore/shim/proc_fdinfo.h"

namespace {

constexpr char kProcRoot[] = "/proc";
constexpr std::string_view kTunDevice = "/dev/net/tun";
// A tun queue's fdinfo is five short lines; its "iff:" line comes well
// before this many bytes.
constexpr std::size_t kFdinfoBytes = 4096;
// Process ids and descriptor numbers are 32-bit, so at most 10 digits.
constexpr std::size_t kMaxIdDigits = 10;

// A directory stream that closes itself.
class Directory {
 public:
  // Takes ownership of `fd`, which may be -1 (an invalid stream).
  explicit Directory(int fd) : dir_(fd >= 0 ? ::fdopendir(fd) : nullptr) {
    if (fd >= 0 && dir_ == nullptr) ::close(fd);
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory() {
    if (dir_ != nullptr) ::closedir(dir_);
  }

  bool valid() const { return dir_ != nullptr; }
  int fd() const { return ::dirfd(dir_); }
  // The next entry's name, or nullptr at the end (or when the directory
  // vanished underneath, as a process's does when it exits).
  const char* next() {
    const dirent* entry = ::readdir(dir_);
    return entry != nullptr ? entry->d_name : nullptr;
  }

 private:
  DIR* dir_;
};

// The value of a name made of 1 to 10 decimal digits, when it fits in a
// positive 32-bit integer; -1 otherwise ("self", ".", "..", sys, ...).
long long decimalId(const char* name) {
  long long value = 0;
  std::size_t length = 0;
  for (; name[length] != '\0'; ++length) {
    if (length == kMaxIdDigits || name[length] < '0' || name[length] > '9') return -1;
    value = value * 10 + (name[length] - '0');
  }
  return length == 0 || value > INT_MAX ? -1 : value;
}

int openDirectoryAt(int dirFd, const char* path) {
  return ::openat(dirFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Up to `size` bytes of the file at `path` below `dirFd`; 0 when unreadable.
std::size_t readSmallFile(int dirFd, const char* path, char* buffer, std::size_t size) {
  // O_NONBLOCK: a FIFO planted in a directory laid out like /proc must not
  // stall the walk.
  const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return 0;
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t n = ::read(fd, buffer + filled, size - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return filled;
}

bool linksToTunDevice(int fdDirFd, const char* fdName) {
  // One byte more than the device path, so a longer target cannot pass.
  char target[kTunDevice.size() + 1];
  const ssize_t n = ::readlinkat(fdDirFd, fdName, target, sizeof target);
  return n == static_cast<ssize_t>(kTunDevice.size()) &&
         std::memcmp(target, kTunDevice.data(), kTunDevice.size()) == 0;
}

// Appends the findings of one process to `out`, at most `room` of them;
// returns how many it wrote.
std::int32_t scanProcess(int procFd, const char* pidName, std::int32_t pid, bcn_utun_owner_t* out,
                         std::int32_t room) {
  // Room for two directory entry names, though both are at most 10 digits.
  char path[2 * NAME_MAX + 16];
  std::snprintf(path, sizeof path, "%s/fd", pidName);
  Directory descriptors(openDirectoryAt(procFd, path));
  if (!descriptors.valid()) return 0;

  std::int32_t written = 0;
  while (written < room) {
    const char* fdName = descriptors.next();
    if (fdName == nullptr) break;
    if (decimalId(fdName) < 0 || !linksToTunDevice(descriptors.fd(), fdName)) continue;

    char fdinfo[kFdinfoBytes];
    std::snprintf(path, sizeof path, "%s/fdinfo/%s", pidName, fdName);
    const std::size_t length = readSmallFile(procFd, path, fdinfo, sizeof fdinfo);
    const auto interface = bcn::tunInterfaceFromFdinfo(std::string_view(fdinfo, length));
    if (!interface) continue;

    bcn_utun_owner_t& record = out[written++];
    record = bcn_utun_owner_t{};
    record.pid = pid;
    record.unit = bcn::tunnelUnitFromName(*interface);
    std::memcpy(record.name, interface->data(), interface->size());
  }
  return written;
}

}  // namespace

std::int32_t bcn_utun_owners_at(const char* proc_root, bcn_utun_owner_t* out, std::int32_t capacity) {
  if (proc_root == nullptr || out == nullptr || capacity < 1) return 0;
  Directory processes(openDirectoryAt(AT_FDCWD, proc_root));
  if (!processes.valid()) return 0;

  std::int32_t written = 0;
  while (written < capacity) {
    const char* pidName = processes.next();
    if (pidName == nullptr) break;
    const long long pid = decimalId(pidName);
    if (pid <= 0) continue;
    written += scanProcess(processes.fd(), pidName, static_cast<std::int32_t>(pid), out + written,
                           capacity - written);
  }
  return written;
}

std::int32_t bcn_utun_owners(bcn_utun_owner_t* out, std::int32_t capacity) {
  return bcn_utun_owners_at(kProcRoot, out, capacity);
}

bool bcn_get_process_path_at(const char* proc_root, std::int32_t pid, char* out, std::size_t size) {
  if (proc_root == nullptr || pid <= 0 || out == nullptr || size == 0) return false;
  const std::string link = std::string(proc_root) + "/" + std::to_string(pid) + "/exe";
  char path[PATH_MAX];
  const ssize_t n = ::readlink(link.c_str(), path, sizeof path);
  // A full buffer may hold a cut-off path; no path the kernel hands out is
  // that long.
  if (n < 1 || static_cast<std::size_t>(n) >= sizeof path || static_cast<std::size_t>(n) >= size) {
    return false;
  }
  std::memcpy(out, path, static_cast<std::size_t>(n));
  out[n] = '\0';
  return true;
}

bool bcn_get_process_path(std::int32_t pid, char* out, std::size_t size) {
  return bcn_get_process_path_at(kProcRoot, pid, out, size);
}
