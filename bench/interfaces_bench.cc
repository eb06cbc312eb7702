// InterfaceReader::snapshot() on namespaces holding 1, 50 and 200 veth
// interfaces, beside two anchors measured in the same run: getifaddrs()
// alone (the floor of the address part of a reading) and one
// `ip -s -d -j addr` process (what a shell user runs). Prints the ratios
// and the cost per interface. Needs root for the namespaces.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

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

bool enterNamespace(benchmark::State& state) {
  if (enter(cat("/run/netns/", namespaceName(static_cast<int>(state.range(0)), "a")))) return true;
  state.SkipWithError("cannot enter the namespace");
  return false;
}

void BM_Snapshot(benchmark::State& state) {
  if (!enterNamespace(state)) return;
  const bcn::InterfaceReader reader;
  std::size_t interfaces = 0;
  for (auto _ : state) {
    auto snapshot = reader.snapshot();
    interfaces = snapshot.size();
    benchmark::DoNotOptimize(snapshot);
  }
  state.counters["interfaces"] = static_cast<double>(interfaces);
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
BENCHMARK(BM_Getifaddrs)->Arg(1)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IpProcess)->Arg(1)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);

// Console output plus the per-run real time, for the summary.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred) microseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> microseconds;
};

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
  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int pairs : kSizes) deleteNamespace(pairs);

  std::printf("\nsummary (real time per reading):\n");
  for (int pairs : kSizes) {
    const std::string arg = std::to_string(pairs);
    const double snap = reporter.microseconds[cat("BM_Snapshot/", arg)];
    const double floor = reporter.microseconds[cat("BM_Getifaddrs/", arg)];
    const double ip = reporter.microseconds[cat("BM_IpProcess/", arg)];
    if (snap <= 0 || floor <= 0 || ip <= 0) continue;
    std::printf(
        "%3d veth: snapshot %8.1f us (%.2f us/interface) | getifaddrs %8.1f us -> snapshot/getifaddrs %.2fx "
        "(target <= 3x) | ip process %8.1f us -> ip/snapshot %.1fx faster (target >= 10x)\n",
        pairs, snap, snap / (pairs + 1), floor, snap / floor, ip, ip / snap);
  }
  return 0;
}
