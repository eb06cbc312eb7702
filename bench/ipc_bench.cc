// Round trips of statusWithToken:reply: over our IPC layer, and through the
// admin daemon's own app service (its sessions, workers, pairing store and
// code requirement: what `beaconbar status` meets), beside the anchor
// a Linux user would otherwise reach for: a D-Bus method call to a trivial
// service on a private dbus-daemon, started by this program and measured in
// the same run. Each load runs 1, 16 and 64 concurrent clients, each client
// with its own connection calling synchronously in a loop.
//
// Beside both runs the floor: a bare Unix-socket echo of the very call and
// reply frames our encoder makes, served by as many threads as our server
// runs, each client a thread blocking on its own connection. It is what
// any framed request/reply over a local socket costs on this machine now.
// And the floor once more with the property-list library's own coding at
// both ends (the client encodes the call and decodes the reply, the server
// decodes the call and encodes the reply): the least a call in our wire
// format can cost before any code of ours runs.
//
// Usage: ipc_bench [--quick] [--clients N] [--only ROW]
//   --quick: shorter runs, for CI; --clients: only that load; --only: only
//   that row (sync, async, daemon, floor, coded, d-bus), without the summary
//   (both for profiling and for comparing builds one part at a time)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench/daemon_status_service.h"
#include "bench/dbus_status_service.h"
#include "bench/ipc_codec_costs.h"
#include "bench/summary_line.h"
#include "bench/unix_echo_floor.h"
#include "platform/ipc/client.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/message.h"
#include "platform/ipc/server.h"
#include "platform/ipc/service_socket.h"
#include "protocol/admin_methods.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Figures {
  double callsPerSecond = 0;
  double p50Microseconds = 0;
  double p99Microseconds = 0;
  long failures = 0;
};

Figures summarise(std::vector<double> all, std::chrono::milliseconds duration, Figures f);

// Runs `clients` threads, each calling `roundTrip` of its own connection
// until `duration` has passed, and summarises the latencies.
template <typename MakeConnection>
Figures measure(int clients, std::chrono::milliseconds duration, MakeConnection makeConnection) {
  std::vector<std::vector<double>> latencies(clients);
  std::atomic<long> failures{0};
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  Clock::time_point start, end;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      auto roundTrip = makeConnection();
      for (int i = 0; i < 20; ++i) roundTrip();  // warm up
      ++ready;
      while (!go) std::this_thread::yield();
      auto& mine = latencies[c];
      mine.reserve(1 << 16);
      for (;;) {
        auto t0 = Clock::now();
        if (t0 >= end) break;
        if (!roundTrip()) ++failures;
        mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
      }
    });
  }
  while (ready < clients) std::this_thread::sleep_for(1ms);
  start = Clock::now();
  end = start + duration;
  go = true;
  for (auto& t : threads) t.join();
  std::vector<double> all;
  for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
  Figures f;
  f.failures = failures;
  return summarise(std::move(all), duration, f);
}

Figures summarise(std::vector<double> all, std::chrono::milliseconds duration, Figures f) {
  std::sort(all.begin(), all.end());
  if (all.empty()) return f;
  f.callsPerSecond = static_cast<double>(all.size()) / std::chrono::duration<double>(duration).count();
  f.p50Microseconds = all[all.size() / 2];
  f.p99Microseconds = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  return f;
}

// The same for our client used asynchronously, as the daemon's clients use
// it: each completion, on the client's I/O thread, records its latency and
// sends the client's next call. Still one call in flight per client.
Figures measureChained(int clients, std::chrono::milliseconds duration, const std::string& socketPath) {
  struct Chain {
    std::unique_ptr<bcn::ipc::Client> client;
    std::vector<double> latencies;
    Clock::time_point sent;
    std::promise<void> done;
    long failures = 0;
  };
  std::vector<std::unique_ptr<Chain>> chains;
  for (int c = 0; c < clients; ++c) {
    auto chain = std::make_unique<Chain>();
    chain->client = std::move(*bcn::ipc::Client::connect(socketPath));
    for (int i = 0; i < 20; ++i) (void)chain->client->callSync("statusWithToken:reply:", {}, 5s);
    chain->latencies.reserve(1 << 16);
    chains.push_back(std::move(chain));
  }
  const Clock::time_point end = Clock::now() + duration;
  std::function<void(Chain*)> next = [&](Chain* chain) {
    chain->sent = Clock::now();
    if (chain->sent >= end) {
      chain->done.set_value();
      return;
    }
    chain->client->call("statusWithToken:reply:", {}, [&, chain](bcn::ipc::Client::Result r) {
      chain->latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - chain->sent).count());
      if (!r || r->error) ++chain->failures;
      next(chain);
    });
  };
  for (auto& chain : chains) next(chain.get());
  std::vector<double> all;
  Figures f;
  for (auto& chain : chains) {
    chain->done.get_future().wait();
    all.insert(all.end(), chain->latencies.begin(), chain->latencies.end());
    f.failures += chain->failures;
  }
  return summarise(std::move(all), duration, f);
}

// --- our IPC: the status method of the app service, answered the way the
// daemon answers an unpaired caller.
bcn::PlistDictionary statusAnswer(bool paired) {
  return bcn::PlistDictionary{
      {"status", bcn::PlistDictionary{{"version", "0.1.0"}, {"protocol", 1}, {"paired", paired}}}};
}

class StatusSession final : public bcn::ipc::Session {
 public:
  void handleCall(const bcn::MethodSpec&, const bcn::PlistDictionary& arguments, bcn::ipc::Reply reply) override {
    reply(statusAnswer(arguments.find("token") != nullptr));
  }
};

struct Row {
  int clients;
  Figures sync, chained, daemon, floor, coded, dbus;
};

// The two targets at 16 clients, each on a line of its own: calls/s against
// the floor's, and the p99 against a millisecond. `anchor` is the D-Bus row
// the figures are also held against, if any.
void printSixteenClients(const Row& row, const std::string& name, const char* vsFloor, const Figures& f,
                         const Figures* anchor, bool failed) {
  const double ratio = f.callsPerSecond / row.floor.callsPerSecond;
  bcn::bench::printSummaryLine(
      "ipc_bench", "16 clients calls/s, " + name,
      anchor ? bcn::bench::ratioText("ours/d-bus", f.callsPerSecond / anchor->callsPerSecond) : "-",
      bcn::bench::ratioText(vsFloor, ratio), ">= 0.8x floor", failed ? 0 : ratio >= 0.8);
  bcn::bench::printSummaryLine(
      "ipc_bench", "16 clients p99, " + name,
      anchor ? bcn::bench::ratioText("d-bus/ours", anchor->p99Microseconds / f.p99Microseconds) : "-",
      bcn::bench::ratioText(vsFloor, f.p99Microseconds / row.floor.p99Microseconds), "< 1 ms",
      failed ? 0 : f.p99Microseconds < 1000);
}

// A client's connection to an echo floor, closed with its last copy.
struct EchoLine {
  explicit EchoLine(int descriptor) : fd(descriptor) {}
  EchoLine(const EchoLine&) = delete;
  EchoLine& operator=(const EchoLine&) = delete;
  ~EchoLine() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
  std::vector<std::uint8_t> request, scratch;
};

void print(const char* name, int clients, const Figures& f) {
  std::printf("%-8s %3d clients: %9.0f calls/s  p50 %7.1f us  p99 %7.1f us%s\n", name, clients, f.callsPerSecond,
              f.p50Microseconds, f.p99Microseconds, f.failures ? "  (FAILURES)" : "");
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::string only;
  std::vector<int> loads = {1, 16, 64};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (std::strcmp(argv[i], "--clients") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      loads = {std::atoi(argv[++i])};
    } else {
      return std::fprintf(stderr, "usage: ipc_bench [--quick] [--clients N] [--only ROW]\n"), 2;
    }
  }
  const auto duration = quick ? 300ms : 2000ms;

  // Our service.
  char dirTemplate[] = "/tmp/ipc-bench-XXXXXX";
  const std::string dir = ::mkdtemp(dirTemplate);
  const std::string socketPath = dir + "/service";
  bcn::ipc::Server server;
  auto fd = bcn::ipc::bindServiceSocket(socketPath);
  if (!fd) return std::fprintf(stderr, "bind: %s\n", fd.error().description.c_str()), 1;
  bcn::ipc::Service service;
  service.protocol = &bcn::adminAppProtocol();
  service.makeSession = [](const bcn::ipc::Peer&) { return std::make_shared<StatusSession>(); };
  if (!server.serve(*fd, std::move(service))) return 1;

  // The anchor: a private bus and a trivial service on it.
  auto bus = bcn::bench::DbusStatusService::start();
  if (!bus) return std::fprintf(stderr, "cannot set up the D-Bus service\n"), 1;

  auto ipcConnection = [&] {
    auto client = std::shared_ptr<bcn::ipc::Client>(std::move(*bcn::ipc::Client::connect(socketPath)));
    return [client] {
      auto r = client->callSync("statusWithToken:reply:", {}, 5s);
      return r.has_value() && !r->error;
    };
  };
  auto dbusConnection = [&] {
    auto connection = std::shared_ptr<bcn::bench::DbusStatusService::Caller>(bus->caller());
    return [connection] { return connection && connection->call(); };
  };

  // The floor: our own call and reply frames, passed through untouched.
  const auto callBytes = bcn::ipc::callFrame({1, "statusWithToken:reply:", {}});
  const auto replyBytes = bcn::ipc::replyFrame({1, {statusAnswer(false), std::nullopt}});
  if (!callBytes || !replyBytes) return std::fprintf(stderr, "cannot encode the status frames\n"), 1;
  auto echo = bcn::bench::UnixEchoFloor::start(dir + "/echo", bcn::ipc::Server::defaultThreads(), *replyBytes);
  if (!echo) return std::fprintf(stderr, "cannot start the echo floor\n"), 1;
  auto echoConnection = [&] {
    auto line = std::make_shared<EchoLine>(echo->connect());
    return [line, &callBytes] { return bcn::bench::UnixEchoFloor::roundTrip(line->fd, *callBytes, line->scratch); };
  };

  // The floor with the library's coding of the same two messages.
  const bcn::bench::LibraryCoding callCoding{std::span(*callBytes).subspan(bcn::ipc::kFrameHeaderBytes)};
  const bcn::bench::LibraryCoding replyCoding{std::span(*replyBytes).subspan(bcn::ipc::kFrameHeaderBytes)};
  if (!callCoding.valid() || !replyCoding.valid())
    return std::fprintf(stderr, "the library cannot read our frames\n"), 1;
  auto coded = bcn::bench::UnixEchoFloor::start(
      dir + "/echo-coded", bcn::ipc::Server::defaultThreads(), *replyBytes,
      [&replyCoding](std::span<const std::uint8_t> request, std::vector<std::uint8_t>& reply) {
        return bcn::bench::LibraryCoding::decode(request) && replyCoding.encodeFrame(reply);
      });
  if (!coded) return std::fprintf(stderr, "cannot start the coded echo floor\n"), 1;
  auto codedConnection = [&] {
    auto line = std::make_shared<EchoLine>(coded->connect());
    return [line, &callCoding] {
      return callCoding.encodeFrame(line->request) &&
             bcn::bench::UnixEchoFloor::roundTrip(line->fd, line->request, line->scratch) &&
             bcn::bench::LibraryCoding::decode(std::span(line->scratch).subspan(bcn::ipc::kFrameHeaderBytes));
    };
  };

  // The daemon's app service, called with a token as a paired app calls.
  auto daemonService = bcn::bench::DaemonStatusService::start(dir + "/daemon");
  if (!daemonService) return std::fprintf(stderr, "cannot start the daemon's app service\n"), 1;
  auto daemonConnection = [&] {
    auto client = std::shared_ptr<bcn::ipc::Client>(std::move(*bcn::ipc::Client::connect(daemonService->socketPath())));
    bcn::PlistDictionary arguments{{"token", daemonService->token()}};
    return [client, arguments] {
      auto r = client->callSync("statusWithToken:reply:", arguments, 5s);
      return r.has_value() && !r->error;
    };
  };

  std::printf("statusWithToken:reply: round trips, %lld ms per load, %u cores, %zu server threads\n",
              static_cast<long long>(duration.count()), std::thread::hardware_concurrency(),
              bcn::ipc::Server::defaultThreads());
  std::printf("daemon: the admin daemon's app service, %s\n", daemonService->requirementChecked()
                                                                  ? "code requirement checked"
                                                                  : "code requirement NOT checked (not root)");
  std::printf("floor: bare Unix-socket echo of a %zu-byte call frame and a %zu-byte reply frame\n", callBytes->size(),
              replyBytes->size());
  std::printf("coded: the floor, with the plist library encoding and decoding both frames at both ends\n");
  std::vector<Row> rows;
  for (int clients : loads) {
    Row row{clients, {}, {}, {}, {}, {}, {}};
    const auto wanted = [&](const char* name) { return only.empty() || only == name; };
    if (wanted("floor")) row.floor = measure(clients, duration, echoConnection);
    if (wanted("coded")) row.coded = measure(clients, duration, codedConnection);
    if (wanted("sync")) row.sync = measure(clients, duration, ipcConnection);
    if (wanted("async")) row.chained = measureChained(clients, duration, socketPath);
    if (wanted("daemon")) row.daemon = measure(clients, duration, daemonConnection);
    if (wanted("d-bus")) row.dbus = measure(clients, duration, dbusConnection);
    if (!only.empty()) {
      for (const auto& [name, f] :
           {std::pair{"sync", row.sync}, std::pair{"async", row.chained}, std::pair{"daemon", row.daemon},
            std::pair{"floor", row.floor}, std::pair{"coded", row.coded}, std::pair{"d-bus", row.dbus}}) {
        if (only == name) print(name, clients, f);
      }
      continue;
    }
    print("ipc sync", clients, row.sync);
    print("ipc", clients, row.chained);
    print("daemon", clients, row.daemon);
    print("floor", clients, row.floor);
    print("coded", clients, row.coded);
    print("d-bus", clients, row.dbus);
    for (const auto& [name, ours] :
         {std::pair{"ipc sync", row.sync}, std::pair{"ipc", row.chained}, std::pair{"daemon", row.daemon}}) {
      std::printf(
          "       %-8s vs floor: p50 %.2fx, throughput %.2fx | vs coded: p50 %.2fx, throughput %.2fx | vs D-Bus: "
          "throughput %.2fx, p99 %.2fx\n",
          name, ours.p50Microseconds / row.floor.p50Microseconds, ours.callsPerSecond / row.floor.callsPerSecond,
          ours.p50Microseconds / row.coded.p50Microseconds, ours.callsPerSecond / row.coded.callsPerSecond,
          ours.callsPerSecond / row.dbus.callsPerSecond, ours.p99Microseconds / row.dbus.p99Microseconds);
    }
    std::printf("       coded    vs floor: p50 %.2fx, throughput %.2fx\n",
                row.coded.p50Microseconds / row.floor.p50Microseconds,
                row.coded.callsPerSecond / row.floor.callsPerSecond);
    rows.push_back(row);
  }
  if (only.empty()) bcn::bench::printCodecCosts(stdout);
  for (const Row& row : rows) {
    // How near the library alone lets any code come to each target.
    const bool codedFailed = row.coded.failures != 0 || row.floor.failures != 0;
    if (row.clients == 1) {
      const double ratio = row.coded.p50Microseconds / row.floor.p50Microseconds;
      bcn::bench::printSummaryLine("ipc_bench", "1 client p50, coded floor", "-",
                                   bcn::bench::ratioText("coded/floor", ratio), "<= 2x floor p50",
                                   codedFailed ? 0 : ratio <= 2.0);
    } else if (row.clients == 16) {
      printSixteenClients(row, "coded floor", "coded/floor", row.coded, nullptr, codedFailed);
    }
    for (const auto& [name, ours] :
         {std::pair{"sync", row.sync}, std::pair{"async", row.chained}, std::pair{"daemon", row.daemon}}) {
      const bool failed = ours.failures != 0 || row.floor.failures != 0;
      if (row.clients == 1) {
        const double ratio = ours.p50Microseconds / row.floor.p50Microseconds;
        bcn::bench::printSummaryLine(
            "ipc_bench", std::string("1 client p50, ") + name,
            bcn::bench::ratioText("d-bus/ours", row.dbus.p50Microseconds / ours.p50Microseconds),
            bcn::bench::ratioText("ours/floor", ratio), "<= 2x floor p50", failed ? 0 : ratio <= 2.0);
      } else if (row.clients == 16) {
        printSixteenClients(row, name, "ours/floor", ours, &row.dbus, failed);
      }
    }
  }

  bus.reset();
  server.stop();
  daemonService.reset();
  echo->stop();
  coded->stop();
  std::filesystem::remove_all(dir);
  return 0;
}
