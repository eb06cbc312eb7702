// Public address lookup end to end against local echo servers on 127.0.0.1
// and ::1 (one port, one host name for both) that each wait 200 ms before
// answering, beside the anchor of two sequential curl runs forced to each
// IP version: `curl -4 -s URL; curl -6 -s URL`. The lookup asks both
// versions at once, so it should take about one delay where curl takes two.
// Prints a summary with the ratios at the end.
//
// Needs root: the host name lives in a private /etc/hosts inside a mount
// namespace, so the benchmark runs in a child process.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "bench/summary_line.h"
#include "netcore/publicip/public_ip_service.h"
#include "netcore/publicip/testing/isolation.h"
#include "netcore/publicip/testing/local_http_server.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;

constexpr auto kDelay = 200ms;
constexpr const char* kHostName = "bcn-echo.test";

std::string& url() {
  static std::string text;
  return text;
}

std::string curlPair() {
  return "curl -4 -s " + url() + " >/dev/null; curl -6 -s " + url() + " >/dev/null";
}

// What a command prints, for checking that the anchor really reaches both
// servers.
std::string outputOf(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
    ::pclose(pipe);
  }
  return output;
}

void BM_Lookup(benchmark::State& state) {
  for (auto _ : state) {
    const PublicIPResult result = PublicIPService::lookup(url());
    if (result.ipv4 != "127.0.0.1" || result.ipv6 != "::1") {
      state.SkipWithError("lookup did not reach both servers");
      break;
    }
  }
}
BENCHMARK(BM_Lookup)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_CurlPairAnchor(benchmark::State& state) {
  const std::string command = curlPair();
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("curl failed");
      break;
    }
  }
}
BENCHMARK(BM_CurlPairAnchor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// Keeps seconds per iteration of every run for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      seconds[run.benchmark_name()] = run.real_accumulated_time / static_cast<double>(run.iterations);
    }
  }
  std::map<std::string, double> seconds;
};

int runBenchmarks(int argc, char** argv) {
  testing::DualStackServers servers(testing::LocalHttpServer::echo(kDelay),
                                    testing::LocalHttpServer::echo(kDelay));
  url() = "http://" + std::string(kHostName) + ":" + std::to_string(servers.port()) + "/ip";
  std::printf("servers on 127.0.0.1 and ::1 port %u, answering after %lld ms\n", servers.port(),
              static_cast<long long>(kDelay.count()));
  const std::string anchorOutput = outputOf("curl -4 -s " + url() + "; curl -6 -s " + url());
  std::printf("anchor check: curl printed \"%s\"\n", anchorOutput.c_str());
  if (anchorOutput != "127.0.0.1\n::1\n") {
    std::printf("the anchor does not reach both servers; is curl installed?\n");
    return 1;
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto& s = reporter.seconds;
  std::printf("\n== publicip_bench summary\n");
  const double delay = std::chrono::duration<double>(kDelay).count();
  if (s.count("BM_Lookup/iterations:20/real_time") != 0) {
    const double lookup = s["BM_Lookup/iterations:20/real_time"];
    std::printf("lookup (IPv4 and IPv6 at once): %.1f ms = %.3fx the 200 ms delay (target <= 1.15x)\n",
                lookup * 1e3, lookup / delay);
    const bool anchored = s.count("BM_CurlPairAnchor/iterations:20/real_time") != 0;
    const double anchorRatio = anchored ? s["BM_CurlPairAnchor/iterations:20/real_time"] / lookup : 0;
    // The servers' delay is the floor: no lookup can answer before it.
    bcn::bench::printSummaryLine("publicip_bench", "lookup, both families", bcn::bench::ratioText("curl/ours", anchorRatio),
                                 bcn::bench::ratioText("ours/delay", lookup / delay), "<= 1.15x floor, >= 1.7x anchor",
                                 lookup / delay <= 1.15 && (!anchored || anchorRatio >= 1.7));
    if (anchored) {
      const double anchor = s["BM_CurlPairAnchor/iterations:20/real_time"];
      std::printf("anchor `curl -4 -s URL; curl -6 -s URL`: %.1f ms; anchor/lookup %.2fx "
                  "(target >= 1.7x)\n",
                  anchor * 1e3, anchor / lookup);
    }
  }
  return 0;
}

}  // namespace
}  // namespace bcn

int main(int argc, char** argv) {
  if (!bcn::testing::canOverrideHosts()) {
    std::printf("publicip_bench needs root (a private /etc/hosts in a mount namespace); skipped\n");
    return 0;
  }
  std::fflush(stdout);
  return bcn::testing::runWithHostsFile(
      std::string("127.0.0.1 ") + bcn::kHostName + "\n::1 " + bcn::kHostName + "\n",
      [&] { return bcn::runBenchmarks(argc, argv); });
}
