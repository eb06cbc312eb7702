// Helpers for the test suites: scratch directories, running a piece of a
// test in a child process, making a directory read-only in a way that also
// binds root (who ignores permission bits), and a small file system to fill
// up. Test-only code.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace bcn::testing {

// A fresh directory under the system's temporary directory (or under
// `parent`), removed with everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  explicit TempDir(const std::filesystem::path& parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// /dev/shm where the machine has it, else the temporary directory: for
// tests whose files need not reach a disk and that want many fast fsyncs.
std::filesystem::path memoryDirectory();

bool runningAsRoot();

// Runs `body` in a forked child and returns its result (the child's exit
// status), or -1 when the child died from a signal. Use for anything that
// changes process-wide state (mount namespaces, environment).
int runInChild(const std::function<int()>& body);

// A forked child that does nothing until released, then exits 0; a live
// process for tests about process identities and exits. Released and
// reaped when the object goes away.
class WaitingChild {
 public:
  WaitingChild();
  ~WaitingChild();
  WaitingChild(const WaitingChild&) = delete;
  WaitingChild& operator=(const WaitingChild&) = delete;

  int pid() const { return pid_; }
  // Lets the child exit and waits for it.
  void release();

 private:
  int pid_ = -1;
  int hold_ = -1;
};

// Runs `body` while `directory` is read-only for this process and returns
// its result. As root the directory is bind-mounted read-only inside a
// private mount namespace of a child process (permission bits do not stop
// root); otherwise its mode is dropped to 0555 and restored afterwards.
int withReadOnlyDirectory(const std::filesystem::path& directory, const std::function<int()>& body);

// Runs `body` in a child process that has a fresh tmpfs of `bytes` bytes
// mounted on `directory` (which must exist) in a private mount namespace,
// so the mount is gone with the child. Returns the child's result; 119 when
// the mount could not be made. Needs root.
int withSmallFileSystem(const std::filesystem::path& directory, std::size_t bytes, const std::function<int()>& body);

// Writes `filler` until its file system is full, then gives `spareBytes`
// back (rounded up to whole pages by the file system). False when the
// filling stopped for another reason than ENOSPC.
bool fillFileSystem(const std::filesystem::path& filler, std::size_t spareBytes);

std::string readText(const std::filesystem::path& path);
void writeText(const std::filesystem::path& path, const std::string& text);

}  // namespace bcn::testing
