#include "platform/testing/test_support.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace bcn::testing {

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path()) {}

TempDir::TempDir(const std::filesystem::path& parent) {
  std::string pattern = (parent / "bcn-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Undo any read-only mode a test left so the removal can go through.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path memoryDirectory() {
  std::error_code ignored;
  return std::filesystem::is_directory("/dev/shm", ignored) ? "/dev/shm" : std::filesystem::temp_directory_path();
}

bool runningAsRoot() { return ::geteuid() == 0; }

WaitingChild::WaitingChild() {
  int pipefd[2];
  if (::pipe(pipefd) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(pipefd[1]);
    char c;
    [[maybe_unused]] auto n = ::read(pipefd[0], &c, 1);
    _exit(0);
  }
  ::close(pipefd[0]);
  hold_ = pipefd[1];
}

WaitingChild::~WaitingChild() { release(); }

void WaitingChild::release() {
  if (hold_ >= 0) ::close(hold_);
  hold_ = -1;
  if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int runInChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int code = 125;
    try {
      code = body();
    } catch (...) {
    }
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int withReadOnlyDirectory(const std::filesystem::path& directory, const std::function<int()>& body) {
  if (!runningAsRoot()) {
    struct stat st {};
    if (::stat(directory.c_str(), &st) != 0) return 124;
    ::chmod(directory.c_str(), 0555);
    const int result = body();
    ::chmod(directory.c_str(), st.st_mode & 07777);
    return result;
  }
  return runInChild([&] {
    if (::unshare(CLONE_NEWNS) != 0) return 120;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 121;
    if (::mount(directory.c_str(), directory.c_str(), nullptr, MS_BIND, nullptr) != 0) return 122;
    if (::mount(nullptr, directory.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      return 123;
    }
    return body();
  });
}

int withSmallFileSystem(const std::filesystem::path& directory, std::size_t bytes, const std::function<int()>& body) {
  return runInChild([&] {
    if (::unshare(CLONE_NEWNS) != 0) return 119;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 119;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("bcn-test", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) return 119;
    return body();
  });
}

bool fillFileSystem(const std::filesystem::path& filler, std::size_t spareBytes) {
  const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string block(4096, 'f');
  off_t size = 0;
  for (;;) {
    const ssize_t n = ::write(fd, block.data(), block.size());
    if (n > 0) {
      size += n;
      continue;
    }
    const bool full = n < 0 && errno == ENOSPC;
    const bool gaveBack =
        ::ftruncate(fd, size > static_cast<off_t>(spareBytes) ? size - static_cast<off_t>(spareBytes) : 0) == 0;
    ::close(fd);
    return full && gaveBack;
  }
}

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace bcn::testing
