// bcn-load-peer: a client of the daemon that speaks the wire format by hand,
// for the load, hostile-user and soak runs. The tests install copies of it
// under the app's and the console's identities, so that what it sends gets
// past the code-identity gate. Prints "key=value" lines; exits 0 when every
// check of its mode held, 1 otherwise, 2 on bad usage.
//
//   mix --seconds S --clients N --uid-base B --uids U [--seed X] [--reply-limit S]
//       [--token UID:TOKEN]...
//       the mixed population of load_mix.h on the app service (root only)
//   hold --count N --uid-base B --denied D
//       N users (B, B+1, …) each open a request and wait on it; prints
//       "held=N" and "ready" once all wait; on SIGUSR1 checks that the first D waits were
//       answered with a denial, once, and the rest not at all, then drops all
//   deny --count N --uid-base B
//       as each of those users, on the control service, denies its request
//   flood --count N [--control]
//       opens N connections as this process's user, a status call on each;
//       prints "served=…", "refused=…" and "holding", then waits to be killed
//   ns-flood --count N --uids U
//       moves into a new user namespace, prints "unshared" and waits for
//       SIGUSR1 (root maps uids 1..U meanwhile), then floods like flood,
//       connection i as uid 1 + i % U
//   scan-flood --connections N --depth D --seconds S
//       N connections each keeping D tunnel-owner calls outstanding;
//       prints "flooding" once they are open, "sent=…" at the end
//   queue-close --connections N --calls C
//       pipelines C tunnel-owner calls on each of N connections, closes
//       them all, prints "closed", then waits for SIGUSR1
//   probe --count N [--limit-ms L]
//       N status calls one after another on one connection; prints the
//       latency quantiles (p50_ms, p99_ms, max_ms) and failures
//   hold-fds --count N
//       holds N descriptors open, prints "held=…", waits for SIGUSR1
//   form-naming --pid P
//       prints the external form an attacker would forge for process P
//   authorize-hold [--approve ID]
//       obtains the pair right from polkit, prints "form=HEX", waits for
//       SIGUSR1, then approves ID with that form on its own connection
//   send-form --form HEX|self (--approve ID | --unpair-all)
//       sends someone's form (or one naming itself) on this process's own
//       control connection
//   victim --seconds S [--tunnels] [--token T]
//       one connection making status calls (tunnel-list calls with
//       --tunnels) one after another for S seconds; prints "calls=",
//       "p50_ms=", "p99_ms=", "max_ms=", "lost=" and, with --tunnels, the
//       last list as "tunnel=IF NAME" lines
//   bomb --shape pairs|string|nested|values|keys --frames N --parallel P
//       sends N expansion-bomb frames, P connections at a time, and waits
//       for the daemon to close each; prints "sent=", "closed=", "slowest_ms="
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "daemon/e2e/console_authorization.h"
#include "daemon/load/attacks.h"
#include "daemon/load/load_mix.h"
#include "daemon/load/raw_client.h"
#include "platform/crypto.h"
#include "platform/ipc/service_socket.h"
#include "platform/testing/plist_bombs.h"
#include "protocol/admin_constants.h"
#include "protocol/admin_error.h"

namespace {

using namespace bcn;
using namespace std::chrono_literals;
using load::RawClient;

struct Arguments {
  std::string mode;
  std::multimap<std::string, std::string> options;

  std::string get(const std::string& name, const std::string& fallback = "") const {
    auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
  }
  std::size_t number(const std::string& name, std::size_t fallback = 0) const {
    const std::string text = get(name);
    return text.empty() ? fallback : std::stoull(text);
  }
  bool has(const std::string& name) const { return options.contains(name); }
};

std::filesystem::path appSocket() { return ipc::servicePath(AdminConstants::appServiceName()); }
std::filesystem::path controlSocket() { return ipc::servicePath(AdminConstants::controlServiceName()); }

std::string hex(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (auto b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

std::vector<std::uint8_t> unhex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string describe(const std::optional<ipc::ReplyValues>& reply) {
  if (!reply) return "no-reply";
  if (!reply->error) return "ok";
  return "error=" + std::to_string(reply->error->code) + " " + reply->error->description;
}

bool isAdminError(const ipc::ReplyValues& reply, AdminError expected) {
  return reply.error && adminErrorFromPlatformError(*reply.error) == expected;
}

void waitForSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  int received = 0;
  sigwait(&set, &received);
}

int mix(const Arguments& args) {
  load::MixOptions options;
  options.appSocket = appSocket();
  options.duration = std::chrono::seconds(args.number("--seconds", 10));
  options.clients = args.number("--clients", 200);
  options.uidBase = static_cast<std::uint32_t>(args.number("--uid-base", 70'000));
  options.uids = args.number("--uids", 40);
  options.seed = args.number("--seed", 1);
  options.replyLimit = std::chrono::seconds(args.number("--reply-limit", 10));
  auto [first, last] = args.options.equal_range("--token");
  for (auto it = first; it != last; ++it) {
    const auto colon = it->second.find(':');
    options.tokens[static_cast<std::uint32_t>(std::stoul(it->second.substr(0, colon)))] = it->second.substr(colon + 1);
  }
  const auto report = load::runMix(options);
  std::printf("%s", report.text().c_str());
  return report.ok() ? 0 : 1;
}

int hold(const Arguments& args) {
  const std::size_t count = args.number("--count", 1000);
  const auto uidBase = static_cast<std::uint32_t>(args.number("--uid-base", 80'000));
  const std::size_t denied = args.number("--denied", 0);
  std::vector<std::unique_ptr<RawClient>> clients;
  for (std::size_t i = 0; i < count; ++i) {
    auto client = RawClient::connect(appSocket(), uidBase + static_cast<std::uint32_t>(i));
    if (!client) return std::printf("error=connect %zu\n", i), 1;
    client->sendCall(1, "beginPairingWithReply:", {});
    auto id = client->awaitReply(1, 20s);
    const PlistValue* value = id ? id->values.find("value") : nullptr;
    if (!value || !value->text()) return std::printf("error=begin %zu %s\n", i, describe(id).c_str()), 1;
    client->sendCall(2, "awaitPairingWithRequestID:reply:", {{"requestID", *value->text()}});
    clients.push_back(std::move(client));
  }
  load::pumpAll(clients, 500ms);
  std::size_t early = 0;
  for (const auto& client : clients) early += client->waiting(2) ? 0 : 1;
  std::printf("held=%zu\nearly=%zu\nready\n", clients.size() - early, early);
  std::fflush(stdout);
  waitForSignal();

  // Denials arrive as the console works through the users; then a pause in
  // which a second reply to any wait would show up.
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  auto deniedAnswered = [&] {
    std::size_t n = 0;
    for (std::size_t i = 0; i < denied && i < clients.size(); ++i) n += clients[i]->waiting(2) ? 0 : 1;
    return n;
  };
  while (deniedAnswered() < denied && std::chrono::steady_clock::now() < deadline) load::pumpAll(clients, 200ms);
  load::pumpAll(clients, 500ms);
  std::size_t denials = 0, wrong = 0, silent = 0, duplicates = 0, unexpected = 0;
  for (std::size_t i = 0; i < clients.size(); ++i) {
    auto reply = clients[i]->take(2);
    if (i < denied) {
      denials += reply && isAdminError(*reply, AdminError::authorizationFailed) ? 1 : 0;
      wrong += reply && !isAdminError(*reply, AdminError::authorizationFailed) ? 1 : 0;
    } else {
      silent += reply ? 0 : 1;
      wrong += reply ? 1 : 0;
    }
    duplicates += clients[i]->faults().duplicates;
    unexpected += clients[i]->faults().unexpected + clients[i]->faults().garbage;
  }
  // Every remaining wait ends with its connection, dropped mid-wait.
  clients.clear();
  std::printf("denials=%zu\nsilent=%zu\nwrong=%zu\nduplicates=%zu\nunexpected=%zu\ndone\n", denials, silent, wrong,
              duplicates, unexpected);
  const bool ok =
      early == 0 && denials == denied && silent == count - denied && wrong == 0 && duplicates == 0 && unexpected == 0;
  return ok ? 0 : 1;
}

int deny(const Arguments& args) {
  const std::size_t count = args.number("--count", 0);
  const auto uidBase = static_cast<std::uint32_t>(args.number("--uid-base", 80'000));
  std::size_t denied = 0, failures = 0;
  for (std::size_t i = 0; i < count; ++i) {
    auto client = RawClient::connect(controlSocket(), uidBase + static_cast<std::uint32_t>(i));
    if (!client) {
      ++failures;
      continue;
    }
    client->sendCall(1, "pendingPairingsWithReply:", {});
    auto pending = client->awaitReply(1, 10s);
    const PlistValue* items = pending ? pending->values.find("items") : nullptr;
    const PlistDictionary* only =
        items && items->array() && items->array()->size() == 1 ? (*items->array())[0].dictionary() : nullptr;
    const PlistValue* id = only ? only->find("id") : nullptr;
    if (!id || !id->text()) {
      ++failures;
      continue;
    }
    client->sendCall(2, "denyPairingWithRequestID:reply:", {{"requestID", *id->text()}});
    auto answer = client->awaitReply(2, 10s);
    (answer && !answer->error ? denied : failures) += 1;
  }
  std::printf("denied=%zu\nfailures=%zu\n", denied, failures);
  return failures == 0 ? 0 : 1;
}

int flood(const Arguments& args) {
  const std::size_t count = args.number("--count", 64);
  const auto socket = args.has("--control") ? controlSocket() : appSocket();
  const char* selector = args.has("--control") ? "statusWithReply:" : "statusWithToken:reply:";
  auto admission = load::openConnections(socket, selector, count);
  std::printf("%sholding\n", admission.text().c_str());
  std::fflush(stdout);
  waitForSignal();
  return 0;
}

int nsFlood(const Arguments& args) {
  if (!load::enterNewUserNamespace()) return std::printf("error=unshare %s\n", std::strerror(errno)), 1;
  std::printf("unshared\n");
  std::fflush(stdout);
  waitForSignal();
  std::vector<std::uint32_t> uids;
  for (std::uint32_t uid = 1; uid <= args.number("--uids", 64); ++uid) uids.push_back(uid);
  auto admission = load::openConnections(appSocket(), "statusWithToken:reply:", args.number("--count", 64), uids);
  std::printf("%sholding\n", admission.text().c_str());
  std::fflush(stdout);
  waitForSignal();
  return 0;
}

int scanFlood(const Arguments& args) {
  const std::size_t depth = args.number("--depth", 1);
  auto flood = load::openScanFlood(appSocket(), args.number("--connections", 32), depth);
  std::printf("connections=%zu\nflooding\n", flood.clients.size());
  std::fflush(stdout);
  load::runScanFlood(flood, depth, std::chrono::seconds(args.number("--seconds", 10)));
  std::printf("sent=%zu\nanswered=%zu\n", flood.sent, flood.answered);
  return 0;
}

int queueClose(const Arguments& args) {
  const std::size_t sent =
      load::queueThenClose(appSocket(), args.number("--connections", 32), args.number("--calls", 20));
  std::printf("sent=%zu\nclosed\n", sent);
  std::fflush(stdout);
  waitForSignal();
  return 0;
}

int probe(const Arguments& args) {
  auto latencies = load::probeStatus(appSocket(), args.number("--count", 50),
                                     std::chrono::milliseconds(args.number("--limit-ms", 120'000)));
  std::printf("%s", latencies.text().c_str());
  return latencies.failed == 0 ? 0 : 1;
}

int holdFds(const Arguments& args) {
  std::vector<int> held;
  std::printf("held=%zu\n", load::holdDescriptors(args.number("--count", 1000), held));
  std::fflush(stdout);
  waitForSignal();
  return 0;
}

// A form naming `subject`, as anyone can write one: the layout is public
// and so are pids and start times.
std::vector<std::uint8_t> formNaming(const ProcessIdentity& subject) {
  AuthorizationNonce nonce{};
  auto random = crypto::secureRandomBytes(nonce.size()).value_or(std::vector<std::uint8_t>(nonce.size()));
  std::copy(random.begin(), random.end(), nonce.begin());
  const auto form = encodeAuthorizationExternalForm(subject, nonce);
  return {form.begin(), form.end()};
}

int formNamingMode(const Arguments& args) {
  auto subject = ProcessIdentity::of(static_cast<std::int32_t>(args.number("--pid")));
  if (!subject) return std::printf("error=no such process\n"), 1;
  std::printf("form=%s\n", hex(formNaming(*subject)).c_str());
  return 0;
}

// Sends `form` with approve (when `id` is set) or unpair-all on a fresh
// control connection of this process.
std::optional<ipc::ReplyValues> sendForm(const std::vector<std::uint8_t>& form, const std::string& id) {
  auto client = RawClient::connect(controlSocket());
  if (!client) return std::nullopt;
  if (id.empty()) {
    client->sendCall(1, "unpairAllWithAuthorization:reply:", {{"authorization", PlistData(form)}});
  } else {
    client->sendCall(
        1, "approvePairingWithRequestID:authorization:reply:", {{"requestID", id}, {"authorization", PlistData(form)}});
  }
  return client->awaitReply(1, 30s);
}

int authorizeHold(const Arguments& args) {
  auto form = testing::authorizeConsole();
  if (!form) return std::printf("error=%s\n", form.error().description.c_str()), 1;
  std::printf("form=%s\n", hex(*form).c_str());
  std::fflush(stdout);
  waitForSignal();
  if (!args.has("--approve")) return 0;
  const auto reply = sendForm(*form, args.get("--approve"));
  std::printf("approve=%s\n", describe(reply).c_str());
  return reply && !reply->error ? 0 : 1;
}

int sendFormMode(const Arguments& args) {
  // "self": a form naming this very process, which has no right of its own.
  const std::string text = args.get("--form");
  const auto form = text == "self" ? formNaming(ProcessIdentity::ofSelf().value()) : unhex(text);
  const auto reply = sendForm(form, args.has("--unpair-all") ? "" : args.get("--approve"));
  std::printf("%s\n", describe(reply).c_str());
  return reply ? 0 : 1;
}

double milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

int victim(const Arguments& args) {
  const auto duration = std::chrono::seconds(args.number("--seconds", 5));
  const bool tunnels = args.has("--tunnels");
  const std::string selector = tunnels ? "tunnelOwnersWithReply:" : "statusWithToken:reply:";
  PlistDictionary arguments;
  if (!tunnels) arguments.set("token", args.get("--token", "not-a-token"));
  auto client = RawClient::connect(appSocket());
  if (!client) return std::printf("error=connect\n"), 1;
  std::vector<double> latencies;
  std::size_t lost = 0;
  std::optional<ipc::ReplyValues> last;
  const auto end = std::chrono::steady_clock::now() + duration;
  for (std::uint64_t sequence = 1; std::chrono::steady_clock::now() < end; ++sequence) {
    const auto sent = std::chrono::steady_clock::now();
    client->sendCall(sequence, selector, arguments);
    auto reply = client->awaitReply(sequence, 120s);
    if (!reply) {
      ++lost;
      break;
    }
    latencies.push_back(milliseconds(std::chrono::steady_clock::now() - sent));
    last = std::move(reply);
    std::this_thread::sleep_for(20ms);
  }
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) {
    return latencies.empty() ? 0.0 : latencies[std::min(latencies.size() - 1, std::size_t(q * latencies.size()))];
  };
  std::printf("calls=%zu\np50_ms=%.1f\np99_ms=%.1f\nmax_ms=%.1f\nlost=%zu\n", latencies.size(), at(0.5), at(0.99),
              latencies.empty() ? 0.0 : latencies.back(), lost);
  const PlistValue* items = last ? last->values.find("items") : nullptr;
  if (items && items->array()) {
    for (const auto& item : *items->array()) {
      const PlistDictionary* owner = item.dictionary();
      const PlistValue* interface = owner ? owner->find("interface") : nullptr;
      const PlistValue* name = owner ? owner->find("name") : nullptr;
      if (interface && interface->text() && name && name->text()) {
        std::printf("tunnel=%s %s\n", interface->text()->c_str(), name->text()->c_str());
      }
    }
  }
  return lost == 0 ? 0 : 1;
}

std::vector<std::uint8_t> bombOf(const std::string& shape) {
  namespace bombs = testing::plist_bombs;
  if (shape == "pairs") return bombs::nestedPairs(20);
  if (shape == "string") return bombs::sharedString(500'000, 10'000);
  if (shape == "nested") return bombs::nestedSharedArrays(4, 40, 1000);
  if (shape == "values") return bombs::sharedDictionaryValues(1000, 500'000);
  if (shape == "keys") return bombs::sharedKeys(60'000, 10'000);
  return {};
}

int bomb(const Arguments& args) {
  const auto payload = bombOf(args.get("--shape"));
  if (payload.empty()) return std::printf("error=unknown shape\n"), 2;
  const auto frame = ipc::encodeFrame(payload);
  const std::size_t frames = args.number("--frames", 8);
  const std::size_t parallel = std::max<std::size_t>(1, args.number("--parallel", 4));
  std::size_t sent = 0, closed = 0;
  double slowest = 0;
  while (sent < frames) {
    std::vector<std::unique_ptr<RawClient>> batch;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < parallel && sent < frames; ++i, ++sent) {
      auto client = RawClient::connect(appSocket());
      if (client && client->sendBytes(frame)) batch.push_back(std::move(client));
    }
    for (auto& client : batch) {
      if (client->awaitClose(120s)) {
        ++closed;
        slowest = std::max(slowest, milliseconds(std::chrono::steady_clock::now() - start));
      }
    }
  }
  std::printf("sent=%zu\nclosed=%zu\nslowest_ms=%.1f\n", sent, closed, slowest);
  return closed == frames ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  // Blocked before any thread starts, so that only sigwait takes it.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  Arguments args{argv[1], {}};
  for (int i = 2; i < argc; ++i) {
    std::string name = argv[i];
    const bool hasValue = i + 1 < argc && std::string_view(argv[i + 1]).substr(0, 2) != "--";
    args.options.emplace(name, hasValue ? argv[++i] : "");
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (args.mode == "mix") return mix(args);
  if (args.mode == "hold") return hold(args);
  if (args.mode == "deny") return deny(args);
  if (args.mode == "flood") return flood(args);
  if (args.mode == "ns-flood") return nsFlood(args);
  if (args.mode == "scan-flood") return scanFlood(args);
  if (args.mode == "queue-close") return queueClose(args);
  if (args.mode == "probe") return probe(args);
  if (args.mode == "hold-fds") return holdFds(args);
  if (args.mode == "form-naming") return formNamingMode(args);
  if (args.mode == "authorize-hold") return authorizeHold(args);
  if (args.mode == "send-form") return sendFormMode(args);
  if (args.mode == "victim") return victim(args);
  if (args.mode == "bomb") return bomb(args);
  std::fprintf(stderr, "unknown mode %s\n", args.mode.c_str());
  return 2;
}
