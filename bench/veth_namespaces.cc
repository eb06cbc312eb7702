#include "bench/veth_namespaces.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace bcn::bench {
namespace {

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

bool batch(const std::string& ns, const std::string& commands) {
  FILE* pipe = popen(("ip -n " + ns + " -batch - >/dev/null").c_str(), "w");
  if (pipe == nullptr) return false;
  fwrite(commands.data(), 1, commands.size(), pipe);
  return pclose(pipe) == 0;
}

}  // namespace

VethNamespaces::VethNamespaces(const std::string& prefix, std::string link)
    : name_(prefix + "-" + std::to_string(getpid())), peer_(name_ + "-peer"), link_(std::move(link)) {}

VethNamespaces::~VethNamespaces() {
  run("ip netns del " + name_ + " 2>/dev/null");
  run("ip netns del " + peer_ + " 2>/dev/null");
}

bool VethNamespaces::create(int count) {
  if (!run("ip netns add " + name_) || !run("ip netns add " + peer_)) return false;
  std::string here = "link set lo up\n", there;
  for (int i = 0; i < count; ++i) {
    const std::string v = link_ + "v" + std::to_string(i), p = link_ + "p" + std::to_string(i);
    here += "link add " + v + " type veth peer name " + p + " netns " + peer_ + "\n";
    here += "link set " + v + " up\n";
    there += "link set " + p + " up\n";
  }
  return batch(name_, here) && batch(peer_, there);
}

pid_t VethNamespaces::spawn(std::vector<std::string> args, const std::vector<std::string>& environment,
                            bool keepStdout) const {
  std::vector<std::string> prefix = {"/usr/bin/ip", "netns", "exec", name_, "/usr/bin/env"};
  prefix.insert(prefix.end(), environment.begin(), environment.end());
  args.insert(args.begin(), prefix.begin(), prefix.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!keepStdout) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace bcn::bench
