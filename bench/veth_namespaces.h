// VethNamespaces: a network namespace holding N veth interfaces (plus lo)
// for benchmarks that run programs against many links. The other end of
// each pair lives in a second namespace, so the first one holds exactly the
// N interfaces. Both are removed on destruction. Needs root and ip(8).
//
// Not thread-safe; one instance per benchmark run.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bcn::bench {

class VethNamespaces {
 public:
  // Names the namespaces "<prefix>-<pid>" and "<prefix>-<pid>-peer"; the
  // interfaces are "<link>v<i>" here and "<link>p<i>" in the peer.
  VethNamespaces(const std::string& prefix, std::string link);
  ~VethNamespaces();
  VethNamespaces(const VethNamespaces&) = delete;
  VethNamespaces& operator=(const VethNamespaces&) = delete;

  // Creates both namespaces and `count` pairs, all up. False on any failure.
  bool create(int count);
  const std::string& name() const { return name_; }

  // Starts `args` inside the namespace (through `ip netns exec`, which runs
  // the program in place, so the pid is the program's), with `environment`
  // ("NAME=value") added to this process's own. Its stderr, and its stdout
  // unless `keepStdout`, go to /dev/null. -1 when it cannot be started.
  pid_t spawn(std::vector<std::string> args, const std::vector<std::string>& environment = {},
              bool keepStdout = true) const;

 private:
  std::string name_;
  std::string peer_;
  std::string link_;
};

}  // namespace bcn::bench
