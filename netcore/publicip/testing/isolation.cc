#include "netcore/publicip/testing/isolation.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace bcn::testing {

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name,
                                                     const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) saved_ = old;
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  if (saved_) {
    ::setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

bool canOverrideHosts() { return ::geteuid() == 0; }

int runWithHostsFile(const std::string& hostsText, const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int code = 125;
    // A scratch file of the child's own, removed before it ends.
    char path[] = "/tmp/bcn-hosts-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) ::_exit(120);
    ::close(fd);
    std::ofstream(path, std::ios::trunc) << hostsText;
    if (::unshare(CLONE_NEWNS) != 0) code = 121;
    else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) code = 122;
    else if (::mount(path, "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) code = 123;
    else {
      try {
        code = body();
      } catch (...) {
        code = 125;
      }
    }
    ::unlink(path);
    std::fflush(nullptr);  // what the body printed (test failures) must not be lost
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bcn::testing
