// Process-wide settings a lookup test needs, changed so that nothing leaks
// into other tests: an environment variable set for one scope, and host
// names resolved from a private hosts file. Test-only code.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace bcn::testing {

// Sets (or unsets, for nullopt) one environment variable and restores its
// earlier state on destruction. Not thread-safe, like setenv itself.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::string name, const std::optional<std::string>& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// True when this process may make a private mount namespace (needs root).
bool canOverrideHosts();

// Runs `body` in a forked child that sees `hostsText` as /etc/hosts, inside
// a private mount namespace: bound over the machine's hosts file, or where
// the machine has none, created in an overlay of /etc. Returns the child's
// exit status; 125 if the body threw, 120-124 if the namespace or the file
// could not be set up.
// REQUIRES: canOverrideHosts(); the calling process has a single thread.
int runWithHostsFile(const std::string& hostsText, const std::function<int()>& body);

}  // namespace bcn::testing
