#include "netcore/publicip/testing/isolation.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

namespace {

// Inside the child's private mount namespace: `hostsText` becomes
// /etc/hosts. Where the machine has a hosts file the private one is bound
// over it; where it has none (minimal images) there is nothing to bind
// over, so /etc gets a writable overlay on a tmpfs under `scratch` and the
// file is created in it. Nothing outside the namespace changes either way.
// 0, or 123-124 when the file could not be put in place.
int placeHostsFile(const std::string& hostsText, const std::string& scratch) {
  const std::string file = scratch + "/hosts";
  std::ofstream(file, std::ios::trunc) << hostsText;
  if (::access("/etc/hosts", F_OK) == 0) {
    return ::mount(file.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0 ? 0 : 123;
  }
  const std::string layer = scratch + "/etc-layer";
  if (::mkdir(layer.c_str(), 0700) != 0 || ::mount("tmpfs", layer.c_str(), "tmpfs", 0, "mode=0755") != 0) return 124;
  if (::mkdir((layer + "/upper").c_str(), 0755) != 0 || ::mkdir((layer + "/work").c_str(), 0700) != 0) return 124;
  const std::string options = "lowerdir=/etc,upperdir=" + layer + "/upper,workdir=" + layer + "/work";
  if (::mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0) return 124;
  std::ofstream("/etc/hosts", std::ios::trunc) << hostsText;
  return ::access("/etc/hosts", R_OK) == 0 ? 0 : 124;
}

}  // namespace

int runWithHostsFile(const std::string& hostsText, const std::function<int()>& body) {
  // A scratch directory of this call's own, removed once the child is gone
  // (its mounts vanish with it).
  char scratch[] = "/tmp/bcn-hosts-XXXXXX";
  if (::mkdtemp(scratch) == nullptr) return 120;
  const pid_t pid = ::fork();
  if (pid < 0) {
    std::filesystem::remove_all(scratch);
    return -1;
  }
  if (pid == 0) {
    int code = 125;
    if (::unshare(CLONE_NEWNS) != 0) code = 121;
    else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) code = 122;
    else if (const int placed = placeHostsFile(hostsText, scratch); placed != 0) code = placed;
    else {
      try {
        code = body();
      } catch (...) {
        code = 125;
      }
    }
    std::fflush(nullptr);  // what the body printed (test failures) must not be lost
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bcn::testing
