// Test-only: a private network namespace made with iproute2 and removed
// with everything in it when the object goes away (also when the test
// fails). Needs root. Names carry the process id and a counter, so suites
// running at the same time on one machine never meet.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace bcn::testing {

class TestNamespace {
 public:
  explicit TestNamespace(const std::string& tag);
  ~TestNamespace();
  TestNamespace(const TestNamespace&) = delete;
  TestNamespace& operator=(const TestNamespace&) = delete;

  bool created() const { return created_; }
  const std::string& name() const { return name_; }

  // Runs `ip -n <name> <arguments>` quietly; true when it exits with 0.
  bool ip(const std::string& arguments) const;
  // The standard output of `ip -n <name> <arguments>`.
  std::string ipOutput(const std::string& arguments) const;

  // Runs `body` on a thread that has entered the namespace (network
  // namespaces belong to threads, so the rest of the process stays put).
  // Empty when the namespace could not be entered.
  template <typename Body>
  auto inside(Body&& body) const -> std::optional<decltype(body())> {
    std::optional<decltype(body())> result;
    std::thread worker([&] {
      const std::string path = "/run/netns/" + name_;
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return;
      const bool entered = setns(fd, CLONE_NEWNET) == 0;
      close(fd);
      if (entered) result.emplace(body());
    });
    worker.join();
    return result;
  }

 private:
  std::string name_;
  bool created_ = false;
};

// Output of a shell command, empty when it cannot be run.
std::string commandOutput(const std::string& command);

// A short name unique to this process, e.g. "b4va12345" for "va".
std::string uniqueInterfaceName(const std::string& tag);

}  // namespace bcn::testing
