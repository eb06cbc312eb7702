#include "platform/codesign/code_identity_reader.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/codesign/code_identity_registry.h"
#include "platform/unique_fd.h"

namespace bcn {
namespace {

struct DigestContextFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

std::int64_t nanoseconds(const timespec& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }

std::string exeLinkOf(std::int32_t pid) { return "/proc/" + std::to_string(pid) + "/exe"; }

// Whether the process read through its pid is still the one meant. A
// pidfd that has not exited proves it alone: the pid cannot pass to another
// process before this one is gone. Without one, the identity is read again.
bool stillTheSame(std::int32_t pid, int pidfd, const std::optional<ProcessIdentity>& expected) {
  if (pidfd >= 0) return !pidfdExited(pidfd);
  if (expected && ProcessIdentity::of(pid) != expected) return false;
  return true;
}

ExecutableStamp stampOf(const struct stat& status) {
  return {status.st_dev, status.st_ino, status.st_size, nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
}

}  // namespace

std::optional<crypto::Sha256Digest> sha256OfDescriptor(int fd) {
  std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  std::array<unsigned char, 64 * 1024> buffer;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n)) != 1) return std::nullopt;
  }
  crypto::Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
    return std::nullopt;
  }
  return digest;
}

std::optional<ExecutableStamp> executableStampOf(std::int32_t pid, int pidfd,
                                                 const std::optional<ProcessIdentity>& expected) {
  if (pid <= 0) return std::nullopt;
  // Runs for every call a peer makes: one stat through the link, and the
  // path built without allocating.
  char link[32];
  std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
  struct stat status {};
  if (::stat(link, &status) != 0) return std::nullopt;
  if (!stillTheSame(pid, pidfd, expected)) return std::nullopt;
  return stampOf(status);
}

CodeIdentityReader::CodeIdentityReader(std::filesystem::path registryPath)
    : registryPath_(std::move(registryPath)) {}

std::optional<crypto::Sha256Digest> CodeIdentityReader::digestOf(int fd, const FileKey& key) const {
  {
    std::lock_guard guard(mutex_);
    if (auto it = digests_.find(key); it != digests_.end()) return it->second;
  }
  auto digest = sha256OfDescriptor(fd);
  if (!digest) return std::nullopt;
  std::lock_guard guard(mutex_);
  if (digests_.size() >= kMaxRemembered) digests_.clear();
  digests_.emplace(key, *digest);
  return digest;
}

std::optional<CodeIdentity> CodeIdentityReader::identityOf(std::int32_t pid, int pidfd,
                                                           const std::optional<ProcessIdentity>& expected,
                                                           ExecutableStamp* judged) const {
  if (pid <= 0) return std::nullopt;
  const std::string exeLink = exeLinkOf(pid);
  // Opening the link yields the very file the process runs, even if its
  // name has since been replaced.
  UniqueFd executable(::open(exeLink.c_str(), O_RDONLY | O_CLOEXEC));
  if (executable.get() < 0) return std::nullopt;
  std::array<char, 4096> target{};
  const ssize_t length = ::readlink(exeLink.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  const std::string path(target.data(), static_cast<std::size_t>(length));

  // Both reads above went through the pid; they described our process only
  // if it is still the same one now.
  if (!stillTheSame(pid, pidfd, expected)) return std::nullopt;

  struct stat status {};
  if (::fstat(executable.get(), &status) != 0 || !S_ISREG(status.st_mode) || !isRootControlled(status)) {
    return std::nullopt;
  }
  const ExecutableStamp stamp = stampOf(status);
  const FileKey key{stamp.device, stamp.inode, stamp.size, stamp.modified, stamp.changed};
  auto digest = digestOf(executable.get(), key);
  if (!digest) return std::nullopt;

  auto registry = loadRegistry(registryPath_);
  if (!registry) return std::nullopt;
  auto identity = registry->lookup(path, *digest);
  if (identity && judged != nullptr) *judged = stamp;
  return identity;
}

}  // namespace bcn
