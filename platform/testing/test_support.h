// Helpers for the test suites: scratch directories, running a piece of a
// test in a child process, and making a directory read-only in a way that
// also binds root (who ignores permission bits). Test-only code.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace bcn::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

bool runningAsRoot();

// Runs `body` in a forked child and returns its result (the child's exit
// status), or -1 when the child died from a signal. Use for anything that
// changes process-wide state (mount namespaces, environment).
int runInChild(const std::function<int()>& body);

// Runs `body` while `directory` is read-only for this process and returns
// its result. As root the directory is bind-mounted read-only inside a
// private mount namespace of a child process (permission bits do not stop
// root); otherwise its mode is dropped to 0555 and restored afterwards.
int withReadOnlyDirectory(const std::filesystem::path& directory, const std::function<int()>& body);

std::string readText(const std::filesystem::path& path);
void writeText(const std::filesystem::path& path, const std::string& text);

}  // namespace bcn::testing
