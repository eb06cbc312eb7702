#include "daemon/load/load_mix.h"

#include <algorithm>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "daemon/load/raw_client.h"
#include "platform/plist.h"

namespace bcn::load {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long the daemon may take to close a connection after a bad frame.
constexpr auto kCloseLimit = 5s;

bool isStatus(const ipc::ReplyValues& reply, bool paired) {
  if (reply.error) return false;
  const PlistValue* status = reply.values.find("status");
  const PlistDictionary* fields = status ? status->dictionary() : nullptr;
  if (fields == nullptr || fields->size() != 3) return false;
  const PlistValue* version = fields->find("version");
  const PlistValue* protocol = fields->find("protocol");
  const PlistValue* pairedValue = fields->find("paired");
  return version && version->text() && protocol && protocol->int64() == 1 && pairedValue &&
         pairedValue->boolean() == paired;
}

bool isTunnelList(const ipc::ReplyValues& reply) {
  const PlistValue* items = reply.values.find("items");
  return !reply.error && items && items->array();
}

bool isEmptySuccess(const ipc::ReplyValues& reply) { return !reply.error && reply.values.empty(); }

// The bad frames, each a whole byte sequence to send on a fresh connection.
std::vector<std::uint8_t> malformedFrame(std::size_t kind, std::mt19937_64& random) {
  auto withPayload = [](std::vector<std::uint8_t> payload) {
    auto frame = frameHeader(static_cast<std::uint32_t>(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
  };
  auto plist = [&](const PlistValue& value) { return withPayload(encodeBinaryPlist(value).value()); };
  switch (kind) {
    case 0:
      return frameHeader(0);
    case 1:
      return frameHeader(0xFFFF'FFFF);
    case 2: {  // over the limit, with as much body as fits a socket buffer
      auto frame = frameHeader(static_cast<std::uint32_t>(ipc::kMaxFrameBytes + 1));
      frame.resize(frame.size() + 64 * 1024, 'x');
      return frame;
    }
    case 3: {  // bytes that are no property list at all
      std::vector<std::uint8_t> noise(1 + random() % 300);
      for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
      noise[0] = 0x01;
      return withPayload(noise);
    }
    case 4: {  // the binary signature, then garbage
      std::vector<std::uint8_t> bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
      for (int i = 0; i < 40; ++i) bytes.push_back(static_cast<std::uint8_t>(random()));
      return withPayload(bytes);
    }
    case 5:
      return plist(PlistArray{PlistValue(1), PlistValue("statusWithToken:reply:")});
    case 6:
      return plist(PlistDictionary{{"sequence", 1}, {"arguments", PlistDictionary{}}});
    case 7:
      return callBytes(1, "launchMissiles:reply:", {});
    case 8:
      return callBytes(1, "statusWithToken:reply:", {{"token", 5}});
    case 9:
      return callBytes(1, "awaitPairingWithRequestID:reply:", {{"requestID", PlistData{1, 2, 3}}});
    case 10:
      return callBytes(1, "setServiceEnabledWithServiceID:enabled:token:reply:",
                       {{"serviceID", "S"}, {"enabled", "yes"}, {"token", "t"}});
    case 11:
      return callBytes(1, "tunnelOwnersWithReply:", {{"surplus", true}});
    case 12:
      return callBytes(1, "unpairWithToken:reply:", {});
    default:
      return plist(PlistDictionary{
          {"sequence", "one"}, {"selector", "statusWithToken:reply:"}, {"arguments", PlistDictionary{}}});
  }
}
constexpr std::size_t kMalformedKinds = 14;

class MixClient {
 public:
  MixClient(const MixOptions& options, std::size_t index)
      : options_(options),
        uid_(options.uidBase + static_cast<std::uint32_t>(index % options.uids)),
        random_(options.seed * 1'000'003 + index) {}

  void run(Clock::time_point until) {
    while (Clock::now() < until) step();
  }
  const MixReport& report() const { return report_; }

 private:
  std::unique_ptr<RawClient> open() {
    auto client = RawClient::connect(options_.appSocket, uid_);
    if (!client) ++report_.connectFailures;
    return client;
  }

  // Ends a connection, first counting what the daemon did wrong on it.
  void finish(std::unique_ptr<RawClient>& client) {
    if (!client) return;
    client->pump(0ms);
    if (client->refusal()) ++report_.refused;
    report_.duplicates += client->faults().duplicates;
    report_.unexpected += client->faults().unexpected + client->faults().garbage;
    client.reset();
  }

  // Sends `selector` and checks the reply with `fits`.
  template <typename Fits>
  void expect(RawClient& client, std::string_view selector, PlistDictionary arguments, Fits fits) {
    const std::uint64_t sequence = ++sequence_;
    ++report_.calls;
    const auto sent = Clock::now();
    if (!client.sendCall(sequence, selector, std::move(arguments))) {
      client.pump(200ms);
      if (!client.refusal()) ++report_.late;
      return;
    }
    auto reply = client.awaitReply(sequence, options_.replyLimit);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
    report_.slowest = std::max(report_.slowest, took);
    if (!reply || took > options_.replyLimit) {
      client.pump(0ms);
      // A refused connection is counted as such, not as a lost reply.
      if (!client.refusal()) ++report_.late;
      return;
    }
    if (fits(*reply)) {
      ++report_.answered;
    } else {
      ++report_.wrong;
    }
  }

  std::string tokenOf(std::uint32_t uid) const {
    auto it = options_.tokens.find(uid);
    return it == options_.tokens.end() ? std::string() : it->second;
  }

  void wellFormed(RawClient& client, std::size_t what) {
    switch (what) {
      case 0:
        return expect(client, "statusWithToken:reply:", {}, [](const auto& r) { return isStatus(r, false); });
      case 1: {
        const std::string mine = tokenOf(uid_);
        if (mine.empty()) break;
        return expect(client, "statusWithToken:reply:", {{"token", mine}},
                      [](const auto& r) { return isStatus(r, true); });
      }
      case 2: {
        // Someone else's real token pairs nobody but its owner.
        if (options_.tokens.empty()) break;
        auto other = options_.tokens.begin();
        std::advance(other, random_() % options_.tokens.size());
        if (other->first == uid_) break;
        return expect(client, "statusWithToken:reply:", {{"token", other->second}},
                      [](const auto& r) { return isStatus(r, false); });
      }
      case 3:
        return expect(client, "tunnelOwnersWithReply:", {}, isTunnelList);
      case 4:
        return expect(client, "unpairWithToken:reply:", {{"token", "nobody-holds-this-" + std::to_string(random_())}},
                      isEmptySuccess);
      default:
        break;
    }
    expect(client, "statusWithToken:reply:", {{"token", "made-up"}}, [](const auto& r) { return isStatus(r, false); });
  }

  void pipelined(RawClient& client) {
    std::vector<ipc::CallMessage> burst;
    const std::uint64_t first = sequence_ + 1;
    for (int i = 0; i < 8; ++i) burst.push_back({++sequence_, "statusWithToken:reply:", {}});
    report_.calls += burst.size();
    const auto sent = Clock::now();
    if (!client.sendCalls(burst)) {
      client.pump(200ms);
      if (!client.refusal()) report_.late += burst.size();
      return;
    }
    for (std::uint64_t s = first; s <= sequence_; ++s) {
      auto reply = client.awaitReply(s, options_.replyLimit);
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
      report_.slowest = std::max(report_.slowest, took);
      if (!reply || took > options_.replyLimit) {
        if (!client.refusal()) ++report_.late;
      } else if (isStatus(*reply, false)) {
        ++report_.answered;
      } else {
        ++report_.wrong;
      }
    }
  }

  void abrupt(RawClient& client, std::size_t how) {
    ++report_.abrupt;
    if (how == 0) {
      // A pairing wait dropped while the daemon holds it.
      const std::uint64_t begin = ++sequence_;
      client.sendCall(begin, "beginPairingWithReply:", {});
      auto id = client.awaitReply(begin, options_.replyLimit);
      const PlistValue* value = id ? id->values.find("value") : nullptr;
      if (value && value->text()) {
        client.sendCall(++sequence_, "awaitPairingWithRequestID:reply:", {{"requestID", *value->text()}});
        client.pump(std::chrono::milliseconds(random_() % 50));
      }
    } else if (how == 1) {
      client.sendCall(++sequence_, random_() % 2 ? "tunnelOwnersWithReply:" : "statusWithToken:reply:", {});
    } else {
      // Half a frame, then gone.
      auto frame = callBytes(++sequence_, "statusWithToken:reply:", {});
      frame.resize(1 + random_() % (frame.size() - 1));
      client.sendBytes(frame);
    }
    client.close();
  }

  void malformed(RawClient& client) {
    ++report_.malformed;
    const std::size_t repliesBefore = client.faults().replies;
    const auto frame = malformedFrame(random_() % kMalformedKinds, random_);
    client.sendBytes(frame);  // may fail part-way: the daemon stops reading
    if (!client.awaitClose(kCloseLimit)) {
      ++report_.notClosed;
      return;
    }
    ++report_.closedByDaemon;
    report_.answeredMalformed += client.faults().replies - repliesBefore;
  }

  void step() {
    auto client = open();
    if (!client) {
      std::this_thread::sleep_for(10ms);
      return;
    }
    const auto roll = random_() % 100;
    if (roll < 45) {
      // Several calls on one connection, as a real app makes them.
      const auto calls = 1 + random_() % 4;
      for (std::uint64_t i = 0; i < calls && !client->closed(); ++i) wellFormed(*client, random_() % 6);
    } else if (roll < 55) {
      pipelined(*client);
    } else if (roll < 70) {
      abrupt(*client, random_() % 3);
    } else if (roll < 80) {
      // A good call answered, then a bad frame on the same connection.
      wellFormed(*client, 0);
      malformed(*client);
    } else {
      malformed(*client);
    }
    finish(client);
  }

  const MixOptions& options_;
  const std::uint32_t uid_;
  std::mt19937_64 random_;
  std::uint64_t sequence_ = 0;
  MixReport report_;
};

}  // namespace

namespace {

// Every count with its name in the report, in report order.
constexpr std::pair<const char*, std::size_t MixReport::*> kCounts[] = {
    {"calls", &MixReport::calls},
    {"answered", &MixReport::answered},
    {"late", &MixReport::late},
    {"wrong", &MixReport::wrong},
    {"abrupt", &MixReport::abrupt},
    {"malformed", &MixReport::malformed},
    {"closed_by_daemon", &MixReport::closedByDaemon},
    {"not_closed", &MixReport::notClosed},
    {"answered_malformed", &MixReport::answeredMalformed},
    {"refused", &MixReport::refused},
    {"duplicates", &MixReport::duplicates},
    {"unexpected", &MixReport::unexpected},
    {"connect_failures", &MixReport::connectFailures},
};

}  // namespace

MixReport& MixReport::operator+=(const MixReport& other) {
  for (const auto& [name, count] : kCounts) this->*count += other.*count;
  slowest = std::max(slowest, other.slowest);
  return *this;
}

bool MixReport::ok() const {
  return calls > 0 && answered == calls && late == 0 && wrong == 0 && notClosed == 0 && answeredMalformed == 0 &&
         refused == 0 && duplicates == 0 && unexpected == 0 && connectFailures == 0 && closedByDaemon == malformed;
}

std::string MixReport::text() const {
  std::ostringstream out;
  for (const auto& [name, count] : kCounts) out << name << "=" << this->*count << "\n";
  out << "slowest_ms=" << slowest.count() << "\n";
  return out.str();
}

MixReport runMix(const MixOptions& options) {
  const auto until = Clock::now() + options.duration;
  std::vector<MixClient> clients;
  clients.reserve(options.clients);
  for (std::size_t i = 0; i < options.clients; ++i) clients.emplace_back(options, i);
  std::vector<std::thread> threads;
  for (auto& client : clients) threads.emplace_back([&client, until] { client.run(until); });
  for (auto& thread : threads) thread.join();
  MixReport total;
  for (const auto& client : clients) total += client.report();
  return total;
}

}  // namespace bcn::load
