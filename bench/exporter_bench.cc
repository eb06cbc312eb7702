// beaconbar-exporter against node_exporter with only its netdev collector,
// side by side on one namespace holding 500 veth interfaces: CPU time each
// server spends per scrape (its own utime+stime from /proc, so the client's
// work is not counted), then 1,000 scrapes of the exporter with its
// resident memory before and after. Prints both figures and the ratio.
// The exporter runs with --reading-max-age 0, so every scrape reads the
// kernel: the cost of a reading, not of a cached answer. Needs root and
// prometheus-node-exporter.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/summary_line.h"
#include "bench/veth_namespaces.h"

namespace {

constexpr int kPairs = 500;
constexpr int kCpuScrapes = 50;
constexpr int kMemoryScrapes = 1000;

// Seconds of CPU the process has used (user + system).
double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// One GET /metrics over a fresh connection; the body's size, 0 on failure.
// REQUIRES: the calling thread is inside the namespace.
std::size_t scrape(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return 0;
  }
  const std::string request = "GET /metrics HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
    close(fd);
    return 0;
  }
  std::size_t total = 0;
  char buffer[65536];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) total += static_cast<std::size_t>(n);
  close(fd);
  return total;
}

bool waitUntilServing(int port) {
  for (int i = 0; i < 200; ++i) {
    if (scrape(port) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

double cpuPerScrape(pid_t pid, int port) {
  for (int i = 0; i < 5; ++i) scrape(port);  // warm up
  const double before = cpuSeconds(pid);
  for (int i = 0; i < kCpuScrapes; ++i) scrape(port);
  return (cpuSeconds(pid) - before) / kCpuScrapes;
}

int benchmark(const bcn::bench::VethNamespaces& net, const char* exporterPath) {
  const pid_t exporter = net.spawn({exporterPath, "--listen", "127.0.0.1:10190", "--public-ip-interval", "0",
                                      "--reading-max-age", "0"});
  const pid_t node = net.spawn({"/usr/bin/prometheus-node-exporter", "--collector.disable-defaults",
                                  "--collector.netdev", "--web.listen-address=127.0.0.1:19100"});
  int status = 1;
  std::thread inside([&] {
    const int fd = open(("/run/netns/" + net.name()).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) return;
    close(fd);
    if (!waitUntilServing(10190) || !waitUntilServing(19100)) {
      std::fprintf(stderr, "exporter_bench: a server did not start\n");
      return;
    }
    std::printf("interfaces: %d veth (+ lo); body: exporter %zu bytes, node_exporter %zu bytes\n", kPairs,
                scrape(10190), scrape(19100));
    const double ours = cpuPerScrape(exporter, 10190);
    const double theirs = cpuPerScrape(node, 19100);
    std::printf("CPU per scrape: beaconbar-exporter %.2f ms, node_exporter (netdev only) %.2f ms, ratio %.2f\n",
                ours * 1e3, theirs * 1e3, theirs > 0 ? ours / theirs : 0.0);
    // No target is set for the exporter; the line only carries the anchor.
    bcn::bench::printSummaryLine("exporter_bench", "CPU per scrape",
                                 bcn::bench::ratioText("node_exporter/ours", ours > 0 ? theirs / ours : 0), "-", "-", -1);
    for (int i = 0; i < 100; ++i) scrape(10190);
    const long early = residentKiB(exporter);
    for (int i = 100; i < kMemoryScrapes; ++i) scrape(10190);
    const long late = residentKiB(exporter);
    std::printf("exporter resident memory: %ld KiB after 100 scrapes, %ld KiB after %d (%+ld KiB)\n", early, late,
                kMemoryScrapes, late - early);
    status = 0;
  });
  inside.join();
  for (pid_t pid : {exporter, node}) {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (geteuid() != 0) {
    std::fprintf(stderr, "exporter_bench: needs root (network namespaces)\n");
    return 0;
  }
  if (access("/usr/bin/prometheus-node-exporter", X_OK) != 0) {
    std::fprintf(stderr, "exporter_bench: prometheus-node-exporter is missing (scripts/install-deps.sh test)\n");
    return 0;
  }
  const char* exporterPath = argc > 1 ? argv[1] : BEACONBAR_EXPORTER_EXECUTABLE;
  bcn::bench::VethNamespaces net("bcn-expbench", "x");
  if (!net.create(kPairs)) {
    std::fprintf(stderr, "exporter_bench: cannot create the interfaces\n");
    return 1;
  }
  return benchmark(net, exporterPath);
}
