// InterfaceReader::snapshot() on namespaces holding 1, 50 and 200 veth
// interfaces, beside two anchors measured in the same run: getifaddrs()
// alone (the C library's own reading of names and addresses) and one
// `ip -s -d -j addr` process (what a shell user runs). Prints the ratios
// and the cost per interface. Needs root for the namespaces.
//
// The floor beside them is what the kernel must be asked for a full
// reading, with nothing decoded: one link dump, one address dump (both
// families), and the per-interface ethtool requests (active features of
// every interface, link settings of the Ethernet ones), on sockets kept
// open across readings.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bench/summary_line.h"
#include "netcore/interfaces/interface_reader.h"

namespace {

const std::vector<int> kSizes = {1, 50, 200};

// Joins text by appending (GCC 12 at -O3 warns falsely about overlap for
// a literal prepended to a std::string, GCC bug 105651).
template <typename... Parts>
std::string cat(const Parts&... parts) {
  std::string text;
  ((text += parts), ...);
  return text;
}

std::string namespaceName(int pairs, const char* side) {
  return cat("bcn4b-", std::to_string(getpid()), "-", std::to_string(pairs), side);
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

// N veth pairs whose far ends sit in a second namespace, so the measured
// namespace holds N running interfaces (plus lo), each with an IPv4
// address and its automatic IPv6 link-local address.
bool createNamespace(int pairs) {
  const std::string ns = namespaceName(pairs, "a"), peer = namespaceName(pairs, "b");
  if (!run(cat("ip netns add ", ns)) || !run(cat("ip netns add ", peer))) return false;
  std::string here = "link set lo up\n", there;
  for (int i = 0; i < pairs; ++i) {
    const std::string v = cat("b4b", std::to_string(getpid()), "v", std::to_string(i));
    const std::string p = cat("b4b", std::to_string(getpid()), "p", std::to_string(i));
    here += cat("link add ", v, " type veth peer name ", p, " netns ", peer, "\n");
    here += cat("addr add 10.", std::to_string(i / 250), ".", std::to_string(i % 250), ".1/24 dev ", v, "\n");
    here += cat("link set ", v, " up\n");
    there += cat("link set ", p, " up\n");
  }
  auto batch = [](const std::string& name, const std::string& commands) {
    FILE* pipe = popen(cat("ip -n ", name, " -batch - >/dev/null").c_str(), "w");
    if (pipe == nullptr) return false;
    fwrite(commands.data(), 1, commands.size(), pipe);
    return pclose(pipe) == 0;
  };
  return batch(ns, here) && (there.empty() || batch(peer, there));
}

void deleteNamespace(int pairs) {
  run(cat("ip netns del ", namespaceName(pairs, "a"), " 2>/dev/null"));
  run(cat("ip netns del ", namespaceName(pairs, "b"), " 2>/dev/null"));
}

bool enter(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = setns(fd, CLONE_NEWNET) == 0;
  close(fd);
  return ok;
}

// CPU time of the calling thread split into user and kernel time, so the
// summary can say which side of the system call boundary a gap is on.
class ThreadTimes {
 public:
  ThreadTimes() : start_(now()) {}
  void report(benchmark::State& state) const {
    const rusage end = now();
    const double iterations = static_cast<double>(state.iterations());
    if (iterations == 0) return;
    state.counters["user_us"] = micros(end.ru_utime, start_.ru_utime) / iterations;
    state.counters["sys_us"] = micros(end.ru_stime, start_.ru_stime) / iterations;
  }

 private:
  static rusage now() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage;
  }
  static double micros(const timeval& a, const timeval& b) {
    return static_cast<double>(a.tv_sec - b.tv_sec) * 1e6 + static_cast<double>(a.tv_usec - b.tv_usec);
  }
  rusage start_;
};

bool enterNamespace(benchmark::State& state) {
  if (enter(cat("/run/netns/", namespaceName(static_cast<int>(state.range(0)), "a")))) return true;
  state.SkipWithError("cannot enter the namespace");
  return false;
}

void BM_Snapshot(benchmark::State& state) {
  if (!enterNamespace(state)) return;
  const bcn::InterfaceReader reader;
  std::size_t interfaces = 0;
  const ThreadTimes times;
  for (auto _ : state) {
    auto snapshot = reader.snapshot();
    interfaces = snapshot.size();
    benchmark::DoNotOptimize(snapshot);
  }
  times.report(state);
  state.counters["interfaces"] = static_cast<double>(interfaces);
}

// The kernel reads of the floor. Datagrams are only walked for the end of
// the dump.
class FloorReads {
 public:
  FloorReads()
      : netlink_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)),
        ioctl_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)),
        buffer_(64 * 1024) {}
  ~FloorReads() {
    if (netlink_ >= 0) close(netlink_);
    if (ioctl_ >= 0) close(ioctl_);
  }
  FloorReads(const FloorReads&) = delete;
  FloorReads& operator=(const FloorReads&) = delete;

  // Bytes the dump returned; 0 on failure.
  std::size_t dump(std::uint16_t type) {
    struct {
      nlmsghdr header;
      ifinfomsg body;
    } req{};
    req.header.nlmsg_len = sizeof req;
    req.header.nlmsg_type = type;
    req.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.header.nlmsg_seq = ++sequence_;
    req.body.ifi_family = AF_UNSPEC;
    if (send(netlink_, &req, sizeof req, 0) < 0) return 0;
    std::size_t total = 0;
    for (;;) {
      const ssize_t n = recv(netlink_, buffer_.data(), buffer_.size(), 0);
      if (n <= 0) return 0;
      total += static_cast<std::size_t>(n);
      auto* message = reinterpret_cast<const nlmsghdr*>(buffer_.data());
      for (int left = static_cast<int>(n); NLMSG_OK(message, left); message = NLMSG_NEXT(message, left)) {
        if (message->nlmsg_type == NLMSG_DONE) return total;
        if (message->nlmsg_type == NLMSG_ERROR) return 0;
      }
    }
  }

  // The active features, which a reading asks of every interface.
  int features(const std::string& name) {
    std::uint64_t buffer[(sizeof(ethtool_gfeatures) + 8 * sizeof(ethtool_get_features_block)) / 8 + 1] = {};
    auto* features = reinterpret_cast<ethtool_gfeatures*>(buffer);
    features->cmd = ETHTOOL_GFEATURES;
    features->size = 8;
    return request(name, features);
  }

  // The two per-interface ethtool requests a reading makes of an Ethernet
  // device. Returns how many the kernel answered.
  int ethtool(const std::string& name) {
    // Each request heads a buffer that holds its trailing array.
    std::uint64_t linkBuffer[(sizeof(ethtool_link_settings) + 3 * 32 * sizeof(std::uint32_t)) / 8 + 1] = {};
    auto* link = reinterpret_cast<ethtool_link_settings*>(linkBuffer);
    link->cmd = ETHTOOL_GLINKSETTINGS;
    link->link_mode_masks_nwords = maskWords_;
    int answered = request(name, link);
    if (link->link_mode_masks_nwords < 0) {
      // The kernel's size handshake, once per namespace: ask again.
      maskWords_ = static_cast<std::int8_t>(-link->link_mode_masks_nwords);
      return ethtool(name);
    }
    answered += features(name);
    return answered;
  }

 private:
  int request(const std::string& name, void* data) {
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
    ifr.ifr_data = static_cast<char*>(data);
    return ioctl(ioctl_, SIOCETHTOOL, &ifr) == 0;
  }

  int netlink_;
  int ioctl_;
  std::vector<std::uint8_t> buffer_;
  std::uint32_t sequence_ = 0;
  std::int8_t maskWords_ = 0;
};

void BM_KernelFloor(benchmark::State& state) {
  if (!enterNamespace(state)) return;
  const int pairs = static_cast<int>(state.range(0));
  // The names are the ones createNamespace gave; knowing them is free.
  std::vector<std::string> names;
  for (int i = 0; i < pairs; ++i) names.push_back(cat("b4b", std::to_string(getpid()), "v", std::to_string(i)));
  FloorReads reads;  // opened in the namespace just entered
  int answered = 0;
  const ThreadTimes times;
  for (auto _ : state) {
    std::size_t bytes = reads.dump(RTM_GETLINK) + reads.dump(RTM_GETADDR);
    answered = reads.features("lo");
    for (const std::string& name : names) answered += reads.ethtool(name);
    benchmark::DoNotOptimize(bytes);
  }
  times.report(state);
  if (answered != 2 * pairs + 1) state.SkipWithError("the kernel did not answer every ethtool request");
}

void BM_Getifaddrs(benchmark::State& state) {
  if (!enterNamespace(state)) return;
  for (auto _ : state) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) freeifaddrs(list);
    benchmark::DoNotOptimize(list);
  }
}

void BM_IpProcess(benchmark::State& state) {
  if (!enterNamespace(state)) return;
  char chunk[65536];
  for (auto _ : state) {
    FILE* pipe = popen("ip -s -d -j addr", "r");
    if (pipe == nullptr) {
      state.SkipWithError("cannot start ip");
      return;
    }
    while (fread(chunk, 1, sizeof chunk, pipe) > 0) {
    }
    pclose(pipe);
  }
}

BENCHMARK(BM_Snapshot)->Arg(1)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KernelFloor)->Arg(1)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Getifaddrs)->Arg(1)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IpProcess)->Arg(1)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);

// Console output plus the real time per run, for the summary: the median
// of the repetitions when there are several, else the single run.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      microseconds[run.run_name.str()] = run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> microseconds;
};

// A reading and its floor are measured in turns, five times each, in a
// random order: on a shared machine, load that comes and goes then falls on
// both sides of a ratio, not on one. Flags given on the command line win.
std::vector<char*> withRepetitions(int argc, char** argv) {
  static char repetitions[] = "--benchmark_repetitions=5";
  static char interleaving[] = "--benchmark_enable_random_interleaving=true";
  static char aggregates[] = "--benchmark_report_aggregates_only=true";
  std::vector<char*> args(argv, argv + argc);
  const bool chosen = std::any_of(args.begin(), args.end(), [](const char* arg) {
    return std::string_view(arg).starts_with("--benchmark_repetitions");
  });
  if (!chosen) args.insert(args.begin() + 1, {repetitions, interleaving, aggregates});
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  if (geteuid() != 0) {
    std::printf("interfaces_bench: needs root (creates network namespaces); skipped\n");
    return 0;
  }
  for (int pairs : kSizes) {
    if (!createNamespace(pairs)) {
      std::fprintf(stderr, "interfaces_bench: could not create %d veth pairs\n", pairs);
      for (int p : kSizes) deleteNamespace(p);
      return 1;
    }
  }
  auto args = withRepetitions(argc, argv);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int pairs : kSizes) deleteNamespace(pairs);

  std::printf("\nsummary (real time per reading):\n");
  for (int pairs : kSizes) {
    const std::string arg = std::to_string(pairs);
    const double snap = reporter.microseconds[cat("BM_Snapshot/", arg)];
    const double kernel = reporter.microseconds[cat("BM_KernelFloor/", arg)];
    const double getifaddrs = reporter.microseconds[cat("BM_Getifaddrs/", arg)];
    const double ip = reporter.microseconds[cat("BM_IpProcess/", arg)];
    if (snap <= 0 || kernel <= 0) {
      bcn::bench::printSummaryLine("interfaces_bench", cat(arg, " veth snapshot"), "-", "-", "<= 1.3x floor", -1);
      continue;
    }
    std::printf(
        "%3d veth: snapshot %8.1f us (%.2f us/interface) | floor %8.1f us -> snapshot/floor %.2fx (target <= 1.3x) | "
        "getifaddrs %8.1f us -> snapshot/getifaddrs %.2fx | ip process %8.1f us -> ip/snapshot %.1fx faster "
        "(target >= 10x)\n",
        pairs, snap, snap / (pairs + 1), kernel, snap / kernel, getifaddrs, snap / getifaddrs, ip, ip / snap);
    bcn::bench::printSummaryLine("interfaces_bench", cat(arg, " veth snapshot"),
                                 bcn::bench::ratioText("ip/ours", ip / snap),
                                 bcn::bench::ratioText("ours/floor", snap / kernel), "<= 1.3x floor",
                                 snap / kernel <= 1.3);
  }
  return 0;
}
