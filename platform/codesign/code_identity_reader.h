// CodeIdentityReader: the code identity of a running process — the
// executable it runs, hashed, looked up in the code-identity registry.
//
// A process is unsigned (no identity) when its executable cannot be opened,
// is not a regular file owned by root and writable by no one else, is not
// recorded in the registry under its path with that content, or when the
// registry itself cannot be trusted (see code_identity_registry.h). The
// registry is read afresh for every process, so installs take effect at once.
//
// Thread-safe. Digests are remembered per file (device, inode, size and
// change times) so that many connections from one program hash it once;
// only root-controlled files are remembered, and any change to one alters
// its change time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

#include "platform/authorization/process_identity.h"
#include "platform/codesign/code_identity.h"
#include "platform/crypto.h"

namespace bcn {

class CodeIdentityReader {
 public:
  explicit CodeIdentityReader(std::filesystem::path registryPath);
  CodeIdentityReader(const CodeIdentityReader&) = delete;
  CodeIdentityReader& operator=(const CodeIdentityReader&) = delete;

  // The identity of process `pid`. When `pidfd` (>= 0) refers to it, or
  // `expected` names it, a process that has meanwhile exited (and whose pid
  // may belong to another program by now) gets no identity.
  std::optional<CodeIdentity> identityOf(std::int32_t pid, int pidfd,
                                         const std::optional<ProcessIdentity>& expected = std::nullopt) const;

  const std::filesystem::path& registryPath() const { return registryPath_; }

 private:
  // dev, inode, size, mtime (ns), ctime (ns)
  using FileKey = std::tuple<std::uint64_t, std::uint64_t, std::int64_t, std::int64_t, std::int64_t>;
  static constexpr std::size_t kMaxRemembered = 256;

  std::optional<crypto::Sha256Digest> digestOf(int fd, const FileKey& key) const;

  std::filesystem::path registryPath_;
  mutable std::mutex mutex_;
  mutable std::map<FileKey, crypto::Sha256Digest> digests_;  // guarded by mutex_
};

// SHA-256 of everything readable from `fd`, from its current offset; absent
// on a read error.
std::optional<crypto::Sha256Digest> sha256OfDescriptor(int fd);

}  // namespace bcn
