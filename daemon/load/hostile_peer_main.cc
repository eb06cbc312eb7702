// bcn-hostile-peer: what one local user can do to the daemon on their own
// connections, for the hostile-call tests. The tests install copies of it
// under the app's and the console's identities (an admitted program run by
// the attacker, as LD_PRELOAD would make one), and an unregistered copy.
// Prints "key=value" lines; exits 0 when it ran, 1 when it could not, 2 on
// bad usage.
//
//   repeat --selector S --seconds N [--control] [--token T] [--window W] [--connections C]
//       C connections (1) each keeping W calls of S outstanding for N seconds, with
//       a token (unpair) or a form naming this process (unpair-all) as the
//       argument; prints "calls=", "answered=", "closed="
//   victim --seconds N --token T
//       status calls one after another on one open connection; prints
//       "calls=", "p50_ms=", "p99_ms=", "max_ms=", "paired=" (all|not-all)
//   connect-then-exec --then PROGRAM
//       a child connects to the app service, passes the connection here and
//       execs PROGRAM ("idle"); once it runs PROGRAM this process speaks on
//       the connection; prints "spoke=answered" or "spoke=refused"
//   exec-after-call --then PROGRAM
//       connects, has one status call answered, then execs PROGRAM
//       ("speak-on") on the same process and connection
//   speak-on --fd N
//       one status call on descriptor N; prints "spoke=answered|refused"
//   idle --seconds N
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "daemon/load/raw_client.h"
#include "platform/authorization/authorization.h"
#include "platform/ipc/service_socket.h"
#include "protocol/admin_constants.h"
#include "protocol/admin_selectors.h"

namespace {

using namespace bcn;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using load::RawClient;

std::map<std::string, std::string> options;

std::string option(const std::string& name) { return options.contains(name) ? options[name] : ""; }
std::size_t number(const std::string& name, std::size_t fallback) {
  return options.contains(name) ? std::stoull(options[name]) : fallback;
}

std::filesystem::path appSocket() { return ipc::servicePath(AdminConstants::appServiceName()); }
std::filesystem::path controlSocket() { return ipc::servicePath(AdminConstants::controlServiceName()); }

PlistDictionary argumentsFor(std::string_view selector) {
  if (selector == ControlSelector::unpairAll) {
    // A form naming this very process: well formed, without the right.
    const auto form = encodeAuthorizationExternalForm(ProcessIdentity::ofSelf().value(), AuthorizationNonce{});
    return {{"authorization", PlistData(form.begin(), form.end())}};
  }
  if (selector == AppSelector::unpair || selector == AppSelector::status) return {{"token", option("--token")}};
  return {};
}

int repeat() {
  const std::string selector = option("--selector");
  const bool control = options.contains("--control");
  const std::size_t window = number("--window", 8);
  std::vector<std::unique_ptr<RawClient>> clients;
  for (std::size_t i = 0; i < number("--connections", 1); ++i) {
    clients.push_back(RawClient::connect(control ? controlSocket() : appSocket()));
    if (!clients.back()) return std::printf("error=connect\n"), 1;
  }
  const auto end = Clock::now() + std::chrono::seconds(number("--seconds", 5));
  std::vector<std::uint64_t> sent(clients.size(), 0);
  bool open = true;
  do {
    for (std::size_t i = 0; i < clients.size(); ++i) {
      while (!clients[i]->closed() && sent[i] - clients[i]->faults().replies < window) {
        if (!clients[i]->sendCall(++sent[i], selector, argumentsFor(selector))) break;
      }
    }
    load::pumpAll(clients, 20ms);
    open = std::none_of(clients.begin(), clients.end(), [](const auto& c) { return c->closed(); });
  } while (Clock::now() < end && open);
  load::pumpAll(clients, 2000ms);
  std::size_t calls = 0, answered = 0, closed = 0;
  for (std::size_t i = 0; i < clients.size(); ++i) {
    calls += sent[i];
    answered += clients[i]->faults().replies;
    closed += clients[i]->closed() ? 1 : 0;
  }
  std::printf("calls=%zu\nanswered=%zu\nclosed=%zu\n", calls, answered, closed);
  return 0;
}

int victim() {
  auto client = RawClient::connect(appSocket());
  if (!client) return std::printf("error=connect\n"), 1;
  std::vector<double> latencies;
  bool allPaired = true;
  const auto end = Clock::now() + std::chrono::seconds(number("--seconds", 5));
  for (std::uint64_t sequence = 1; Clock::now() < end; ++sequence) {
    const auto start = Clock::now();
    if (!client->sendCall(sequence, AppSelector::status, argumentsFor(AppSelector::status))) break;
    auto reply = client->awaitReply(sequence, 60s);
    if (!reply || reply->error) return std::printf("error=status call %llu unanswered\n", (unsigned long long)sequence), 1;
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    const PlistValue* status = reply->values.find("status");
    const PlistValue* paired = status && status->dictionary() ? status->dictionary()->find("paired") : nullptr;
    allPaired = allPaired && paired && paired->boolean().value_or(false);
  }
  if (latencies.empty()) return std::printf("error=no calls\n"), 1;
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) { return latencies[std::min(latencies.size() - 1, std::size_t(q * latencies.size()))]; };
  std::printf("calls=%zu\np50_ms=%.2f\np99_ms=%.2f\nmax_ms=%.2f\npaired=%s\n", latencies.size(), at(0.50), at(0.99),
              latencies.back(), allPaired ? "all" : "not-all");
  return 0;
}

// One status call on `fd`: whether anything came back before the daemon
// closed the connection.
bool speak(int fd) {
  const auto frame = load::callBytes(1, AppSelector::status, {{"token", std::string()}});
  if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) return false;
  pollfd waiting{fd, POLLIN, 0};
  if (::poll(&waiting, 1, 10'000) <= 0) return false;
  std::uint8_t byte = 0;
  return ::recv(fd, &byte, 1, 0) == 1;
}

// One byte with room for one descriptor beside it, as SCM_RIGHTS passes it.
struct DescriptorMessage {
  char byte = 'c';
  iovec vector{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
  msghdr message{};

  DescriptorMessage() {
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  DescriptorMessage(const DescriptorMessage&) = delete;
  DescriptorMessage& operator=(const DescriptorMessage&) = delete;
};

bool sendDescriptor(int channel, int fd) {
  DescriptorMessage sent;
  cmsghdr* header = CMSG_FIRSTHDR(&sent.message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  return ::sendmsg(channel, &sent.message, 0) == 1;
}

int receiveDescriptor(int channel) {
  DescriptorMessage received;
  if (::recvmsg(channel, &received.message, MSG_CMSG_CLOEXEC) != 1) return -1;
  cmsghdr* header = CMSG_FIRSTHDR(&received.message);
  if (header == nullptr || header->cmsg_type != SCM_RIGHTS) return -1;
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  return fd;
}

int connectThenExec() {
  const std::string program = option("--then");
  int channel[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) return 1;
  const pid_t child = ::fork();
  if (child < 0) return 1;
  if (child == 0) {
    // The connecting process: the daemon judges it by what it runs.
    auto client = RawClient::connect(appSocket());
    if (!client || !sendDescriptor(channel[1], client->descriptor())) ::_exit(1);
    ::execl(program.c_str(), program.c_str(), "idle", "--seconds", "5", static_cast<char*>(nullptr));
    ::_exit(1);
  }
  ::close(channel[1]);
  const int fd = receiveDescriptor(channel[0]);
  if (fd < 0) return std::printf("error=no connection\n"), 1;
  const std::string exe = "/proc/" + std::to_string(child) + "/exe";
  const auto canonical = std::filesystem::canonical(program);
  for (int i = 0; i < 500; ++i) {
    std::error_code ignored;
    if (std::filesystem::read_symlink(exe, ignored) == canonical) break;
    std::this_thread::sleep_for(2ms);
  }
  std::printf("spoke=%s\n", speak(fd) ? "answered" : "refused");
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  return 0;
}

int execAfterCall() {
  auto client = RawClient::connect(appSocket());
  if (!client) return std::printf("error=connect\n"), 1;
  client->sendCall(1, AppSelector::status, {{"token", std::string()}});
  if (!client->awaitReply(1, 20s)) return std::printf("error=not admitted\n"), 1;
  const int fd = client->descriptor();
  ::fcntl(fd, F_SETFD, 0);
  const std::string program = option("--then");
  const std::string fdText = std::to_string(fd);
  ::execl(program.c_str(), program.c_str(), "speak-on", "--fd", fdText.c_str(), static_cast<char*>(nullptr));
  return std::printf("error=exec\n"), 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    const bool hasValue = i + 1 < argc && std::string_view(argv[i + 1]).substr(0, 2) != "--";
    options[name] = hasValue ? argv[++i] : "";
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (mode == "repeat") return repeat();
  if (mode == "victim") return victim();
  if (mode == "connect-then-exec") return connectThenExec();
  if (mode == "exec-after-call") return execAfterCall();
  if (mode == "speak-on") return std::printf("spoke=%s\n", speak(std::stoi(option("--fd"))) ? "answered" : "refused"), 0;
  if (mode == "idle") return std::this_thread::sleep_for(std::chrono::seconds(number("--seconds", 5))), 0;
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
