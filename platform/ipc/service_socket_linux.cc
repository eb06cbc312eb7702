#include "platform/ipc/service_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files.h"

namespace bcn::ipc {
namespace {

std::optional<sockaddr_un> addressOf(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.empty() || text.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return address;
}

// Whether some process listens on the socket at `address` (a full backlog,
// EAGAIN, also means someone is there).
bool answers(const sockaddr_un& address) {
  const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (probe < 0) return false;
  const bool connected =
      ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN;
  ::close(probe);
  return connected;
}

}  // namespace

std::filesystem::path runtimeDirectory() {
  if (const char* configured = std::getenv("RUNTIME_DIRECTORY"); configured && *configured) {
    std::string_view list(configured);
    return std::string(list.substr(0, list.find(':')));
  }
  return "/run/beaconbar";
}

std::filesystem::path servicePath(std::string_view serviceName) { return runtimeDirectory() / serviceName; }

std::optional<int> activatedSocket(std::string_view name) {
  char** names = nullptr;
  const int count = sd_listen_fds_with_names(0, &names);
  std::optional<int> found;
  for (int i = 0; i < count; ++i) {
    const int fd = SD_LISTEN_FDS_START + i;
    if (!found && names && names[i] && name == names[i] && sd_is_socket_unix(fd, SOCK_STREAM, 1, nullptr, 0) > 0) {
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      found = fd;
    }
  }
  if (names) {
    for (int i = 0; i < count; ++i) std::free(names[i]);
    std::free(names);
  }
  return found;
}

std::expected<int, PlatformError> bindServiceSocket(const std::filesystem::path& path) {
  // Built piece by piece: GCC 12 at -O3 misreports "." + std::string as an
  // overlapping copy.
  std::string temporaryName = ".";
  temporaryName += path.filename().string();
  temporaryName += '.';
  temporaryName += std::to_string(::getpid());
  temporaryName += ".new";
  const std::filesystem::path temporary = path.parent_path() / temporaryName;
  auto address = addressOf(path);
  auto temporaryAddress = addressOf(temporary);
  if (!address || !temporaryAddress) {
    return std::unexpected(PlatformError::fromErrno(ENAMETOOLONG, "bind " + path.string()));
  }
  if (auto made = files::createDirectories(path.parent_path(), 0755); !made) return std::unexpected(made.error());

  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) return std::unexpected(PlatformError::fromErrno(EEXIST, "bind " + path.string()));
    if (answers(*address)) return std::unexpected(PlatformError::fromErrno(EADDRINUSE, "bind " + path.string()));
  }

  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::unexpected(PlatformError::fromErrno(errno, "socket for " + path.string()));
  auto fail = [&](const std::string& step) {
    const int error = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    return std::unexpected(PlatformError::fromErrno(error, step + " " + path.string()));
  };
  // Any file under our temporary name belongs to an earlier process with our pid.
  ::unlink(temporary.c_str());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&*temporaryAddress), sizeof *temporaryAddress) != 0) {
    return fail("bind");
  }
  if (::chmod(temporary.c_str(), 0666) != 0) return fail("chmod");
  if (::listen(fd, SOMAXCONN) != 0) return fail("listen");
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("rename into");
  return fd;
}

std::expected<int, PlatformError> openServiceSocket(std::string_view serviceName) {
  if (auto activated = activatedSocket(serviceName)) return *activated;
  return bindServiceSocket(servicePath(serviceName));
}

}  // namespace bcn::ipc
