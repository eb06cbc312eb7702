// Test-only: a private network namespace for the calling thread, and the
// `ip` command run inside it. Tests that create links or routes do so in a
// namespace of their own, so concurrent suites never see each other's links
// and everything vanishes with the namespace, also when a test fails.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bcn::testing {

// Moves the calling thread into a new network namespace holding only a
// loopback link (brought up), and back into the previous one on
// destruction. Threads and processes started meanwhile from this thread
// inherit the new namespace. Needs CAP_SYS_ADMIN; check ok().
class ScopedNetNamespace {
 public:
  ScopedNetNamespace();
  ~ScopedNetNamespace();
  ScopedNetNamespace(const ScopedNetNamespace&) = delete;
  ScopedNetNamespace& operator=(const ScopedNetNamespace&) = delete;

  bool ok() const { return ok_; }

 private:
  int previous_ = -1;
  bool ok_ = false;
};

// Runs `ip <args>` in the calling thread's namespace; true when it exits 0.
bool runIp(const std::vector<std::string>& args);

// A link name no other test process uses: `prefix` + this pid + a counter,
// within the kernel's 15-character limit.
std::string uniqueLinkName(std::string_view prefix);

// Adds a veth pair `name` <-> `name`p, both administratively down.
bool addVethPair(const std::string& name);

// Removes CAP_NET_ADMIN from every capability set of the calling thread, as
// a daemon started without it has none: rtnetlink changes are then refused
// with EPERM. Irreversible; call it in a child process. True on success.
bool dropNetAdminCapability();

}  // namespace bcn::testing
