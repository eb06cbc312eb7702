#include "daemon/load/attacks.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "protocol/admin_selectors.h"

namespace bcn::load {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

}  // namespace

ScanFlood openScanFlood(const std::filesystem::path& socket, std::size_t connections, std::size_t depth) {
  ScanFlood flood;
  for (std::size_t i = 0; i < connections; ++i) {
    auto client = RawClient::connect(socket);
    if (!client) continue;
    std::vector<std::uint64_t> outstanding;
    for (std::size_t d = 0; d < depth; ++d) {
      client->sendCall(++flood.sent, AppSelector::tunnelOwners, {});
      outstanding.push_back(flood.sent);
    }
    flood.clients.push_back(std::move(client));
    flood.outstanding.push_back(std::move(outstanding));
  }
  return flood;
}

void runScanFlood(ScanFlood& flood, std::size_t depth, std::chrono::milliseconds duration) {
  const auto deadline = Clock::now() + duration;
  while (Clock::now() < deadline) {
    pumpAll(flood.clients, 50ms);
    for (std::size_t i = 0; i < flood.clients.size(); ++i) {
      auto& client = flood.clients[i];
      auto& outstanding = flood.outstanding[i];
      if (client->closed()) continue;
      // One new call for each one answered.
      std::erase_if(outstanding, [&](std::uint64_t s) {
        if (!client->take(s)) return false;
        ++flood.answered;
        return true;
      });
      while (outstanding.size() < depth) {
        client->sendCall(++flood.sent, AppSelector::tunnelOwners, {});
        outstanding.push_back(flood.sent);
      }
    }
  }
}

std::size_t queueThenClose(const std::filesystem::path& socket, std::size_t connections, std::size_t calls) {
  std::vector<std::unique_ptr<RawClient>> clients;
  std::size_t sent = 0;
  for (std::size_t i = 0; i < connections; ++i) {
    auto client = RawClient::connect(socket);
    if (!client) continue;
    std::vector<ipc::CallMessage> batch;
    for (std::size_t c = 0; c < calls; ++c) batch.push_back({c + 1, std::string(AppSelector::tunnelOwners), {}});
    if (client->sendCalls(batch)) sent += calls;
    clients.push_back(std::move(client));
  }
  clients.clear();
  return sent;
}

double Latencies::quantile(double q) const {
  if (milliseconds.empty()) return 0;
  std::vector<double> sorted = milliseconds;
  std::sort(sorted.begin(), sorted.end());
  const auto index = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size()))) - 1;
  return sorted[std::min(index, sorted.size() - 1)];
}

std::string Latencies::text() const {
  char line[200];
  std::snprintf(line, sizeof line, "p50_ms=%.1f\np99_ms=%.1f\nmax_ms=%.1f\nanswered=%zu\nfailed=%zu\n", quantile(0.5),
                quantile(0.99), quantile(1.0), milliseconds.size(), failed);
  return line;
}

Latencies probeStatus(const std::filesystem::path& socket, std::size_t count, std::chrono::milliseconds limit) {
  Latencies result;
  auto client = RawClient::connect(socket);
  if (!client) {
    result.failed = count;
    return result;
  }
  for (std::size_t i = 1; i <= count; ++i) {
    const auto start = Clock::now();
    client->sendCall(i, AppSelector::status, {});
    auto reply = client->awaitReply(i, limit);
    if (!reply || reply->error) {
      ++result.failed;
      if (client->closed()) {
        result.failed += count - i;
        break;
      }
      continue;
    }
    result.milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return result;
}

std::size_t holdDescriptors(std::size_t count, std::vector<int>& held) {
  const int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (first < 0) return 0;
  held.push_back(first);
  while (held.size() < count) {
    const int fd = ::fcntl(first, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) break;
    held.push_back(fd);
  }
  return held.size();
}

std::string Admission::text() const {
  return "served=" + std::to_string(served) + "\nrefused=" + std::to_string(refused) +
         "\nother=" + std::to_string(other) + "\nrefusal=" + refusal + "\n";
}

Admission openConnections(const std::filesystem::path& socket, std::string_view selector, std::size_t count,
                          const std::vector<std::uint32_t>& uids) {
  Admission admission;
  for (std::size_t i = 0; i < count; ++i) {
    auto client = uids.empty() ? RawClient::connect(socket) : RawClient::connect(socket, uids[i % uids.size()]);
    if (!client) {
      ++admission.other;
      continue;
    }
    client->sendCall(1, selector, {});
    // Generous bounds: they only cost time when the daemon is slow (the
    // first connection of a program pays for hashing its executable), and a
    // slow answer must not be counted as neither served nor refused.
    if (client->awaitReply(1, 60s)) {
      ++admission.served;
    } else if (client->awaitClose(30s) && client->refusal()) {
      ++admission.refused;
      admission.refusal = std::to_string(client->refusal()->code) + " " + client->refusal()->domain + " " +
                          client->refusal()->description;
    } else {
      ++admission.other;
    }
    admission.clients.push_back(std::move(client));
  }
  return admission;
}

bool enterNewUserNamespace() { return ::unshare(CLONE_NEWUSER) == 0; }

}  // namespace bcn::load
