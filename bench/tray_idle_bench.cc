// The desktop side's idle cost: beaconbar-tray (offscreen) and `beaconbar
// record`, each reading 20 veth interfaces once a second, beside vnstatd
// doing the same job on the same interfaces in the same run. Over a
// measured stretch (60 s by default, after a 5 s start) it prints each
// program's CPU time as a share of one core and its resident memory, with
// the ratio to vnstatd and the targets (tray at most 0.5 % and 60 MiB,
// record at most 0.1 % and 15 MiB). vnstatd polls at 2 s at the fastest,
// so it is run at that. Needs root and vnstat's daemon (Debian vnstat).
//
//   tray_idle_bench [SECONDS]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/summary_line.h"
#include "bench/veth_namespaces.h"

namespace {

constexpr int kInterfaces = 20;

// Seconds the process's threads have run, to the nanosecond (the first
// field of each thread's schedstat); clock ticks would be too coarse for
// an idle program over a minute. -1 when the process is gone.
double cpuSeconds(pid_t pid) {
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  std::filesystem::directory_iterator it(tasks, error);
  if (error) return -1;
  unsigned long long nanoseconds = 0;
  for (const auto& task : it) {
    std::ifstream schedstat(task.path() / "schedstat");
    unsigned long long running = 0;
    if (schedstat >> running) nanoseconds += running;
  }
  return static_cast<double>(nanoseconds) / 1e9;
}

double residentMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  }
  return -1;
}

struct Measured {
  const char* name;
  pid_t pid;
  double cpuTarget;  // share of a core, percent; 0 for the anchor
  double rssTarget;  // MiB
  double startCpu = 0;
  double cpuPercent = 0;
  double rss = 0;
};

int benchmark(const bcn::bench::VethNamespaces& net, int seconds, const std::filesystem::path& scratch) {
  for (const char* dir : {"tray/state", "tray/config", "tray/runtime", "record", "vnstat"}) {
    std::filesystem::create_directories(scratch / dir);
  }
  std::filesystem::permissions(scratch / "tray/runtime", std::filesystem::perms::owner_all);
  {
    std::ofstream config(scratch / "vnstat.conf");
    config << "DatabaseDir \"" << (scratch / "vnstat").string() << "\"\n"
           << "AlwaysAddNewInterfaces 1\nPollInterval 2\nUpdateInterval 2\nSaveInterval 1\nUseLogging 0\n";
  }
  const std::string tray = scratch / "tray";
  std::vector<Measured> programs{
      {"beaconbar-tray", net.spawn({BEACONBAR_TRAY_EXECUTABLE},
                                     {"QT_QPA_PLATFORM=offscreen", "HOME=" + tray, "XDG_STATE_HOME=" + tray + "/state",
                                      "XDG_CONFIG_HOME=" + tray + "/config", "XDG_RUNTIME_DIR=" + tray + "/runtime"},
                 false),
       0.5, 60},
      {"beaconbar record",
       net.spawn({BEACONBAR_EXECUTABLE, "record", "--interval", "1", "--history-file",
                    (scratch / "record/history.plist").string()},
                   {}, false),
       0.1, 15},
      {"vnstatd", net.spawn({"vnstatd", "-n", "--config", (scratch / "vnstat.conf").string()}, {}, false), 0, 0},
  };
  std::this_thread::sleep_for(std::chrono::seconds(5));
  bool running = true;
  for (Measured& m : programs) {
    if (m.pid <= 0 || kill(m.pid, 0) != 0 || cpuSeconds(m.pid) < 0) {
      std::fprintf(stderr, "tray_idle_bench: %s did not start (is it installed?)\n", m.name);
      running = false;
    }
    m.startCpu = cpuSeconds(m.pid);
  }
  if (running) {
    std::printf("measuring %d s: %d veth interfaces, 1 s updates (vnstatd 2 s, its shortest)\n", seconds, kInterfaces);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (Measured& m : programs) {
      m.cpuPercent = (cpuSeconds(m.pid) - m.startCpu) / seconds * 100;
      m.rss = residentMiB(m.pid);
    }
  }
  for (Measured& m : programs) {
    if (m.pid <= 0) continue;
    kill(m.pid, SIGTERM);
    int status = 0;
    waitpid(m.pid, &status, 0);
  }
  if (!running) return 1;

  const Measured& anchor = programs.back();
  std::printf("%-18s %10s %9s %10s %10s   %s\n", "program", "cpu %core", "rss MiB", "cpu/vnstatd", "rss/vnstatd",
              "target");
  for (const Measured& m : programs) {
    std::printf("%-18s %9.3f%% %9.1f %10.2fx %10.2fx", m.name, m.cpuPercent, m.rss,
                anchor.cpuPercent > 0 ? m.cpuPercent / anchor.cpuPercent : 0.0, m.rss / anchor.rss);
    if (m.cpuTarget > 0) {
      const bool met = m.cpuPercent <= m.cpuTarget && m.rss <= m.rssTarget;
      std::printf("   <= %.1f%%, <= %.0f MiB: %s", m.cpuTarget, m.rssTarget, met ? "met" : "MISSED");
    }
    std::printf("\n");
  }
  for (const Measured& m : programs) {
    if (m.cpuTarget <= 0) continue;
    char target[64];
    std::snprintf(target, sizeof target, "<= %.1f%% core, <= %.0f MiB", m.cpuTarget, m.rssTarget);
    bcn::bench::printSummaryLine("tray_idle_bench", std::string(m.name) + " idle",
                                 bcn::bench::ratioText("vnstatd/ours cpu", m.cpuPercent > 0 ? anchor.cpuPercent / m.cpuPercent : 0), "-",
                                 target, m.cpuPercent <= m.cpuTarget && m.rss <= m.rssTarget);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (geteuid() != 0) {
    std::printf("tray_idle_bench: needs root (network namespaces); skipped\n");
    return 0;
  }
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  if (seconds < 1) {
    std::fprintf(stderr, "usage: tray_idle_bench [SECONDS]\n");
    return 2;
  }
  char scratchName[] = "/tmp/bcn-idlebench-XXXXXX";
  if (mkdtemp(scratchName) == nullptr) return 1;
  int status = 1;
  {
    bcn::bench::VethNamespaces net("bcn-idlebench", "i");
    if (net.create(kInterfaces)) {
      status = benchmark(net, seconds, scratchName);
    } else {
      std::fprintf(stderr, "tray_idle_bench: cannot create the interfaces\n");
    }
  }
  std::filesystem::remove_all(scratchName);
  return status;
}
