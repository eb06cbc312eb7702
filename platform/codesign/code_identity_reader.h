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

// The file a process runs, as it was when judged: device, inode, size and
// modification and change times. Only root-controlled files get an identity,
// and any change to one alters its change time, so an equal stamp means the
// same bytes.
struct ExecutableStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modified = 0;  // ns
  std::int64_t changed = 0;   // ns

  bool operator==(const ExecutableStamp&) const = default;
};

// The stamp of what process `pid` runs now. Absent when it cannot be read,
// or when the process has exited by the end of the read (so that a reused
// pid is never described): `pidfd` (>= 0) or else `expected` names it.
std::optional<ExecutableStamp> executableStampOf(std::int32_t pid, int pidfd,
                                                 const std::optional<ProcessIdentity>& expected);

class CodeIdentityReader {
 public:
  explicit CodeIdentityReader(std::filesystem::path registryPath);
  CodeIdentityReader(const CodeIdentityReader&) = delete;
  CodeIdentityReader& operator=(const CodeIdentityReader&) = delete;

  // The identity of process `pid`. When `pidfd` (>= 0) refers to it, or
  // `expected` names it, a process that has meanwhile exited (and whose pid
  // may belong to another program by now) gets no identity. With an
  // identity, `judged` (when given) receives the stamp of the file it
  // describes, for later checks that the process still runs that file.
  std::optional<CodeIdentity> identityOf(std::int32_t pid, int pidfd,
                                         const std::optional<ProcessIdentity>& expected = std::nullopt,
                                         ExecutableStamp* judged = nullptr) const;

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
