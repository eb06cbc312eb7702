#include "daemon/load/soak_pairing_actor.h"

#include <pwd.h>

#include <algorithm>
#include <future>
#include <iterator>
#include <thread>

#include "daemon/pairing_store.h"
#include "platform/files.h"
#include "platform/ipc/testing/child_peer.h"

namespace bcn::load {
namespace {

using namespace std::chrono_literals;
using Role = testing::DaemonHarness::Role;

const std::string kAdmin = "bcn-polkit-yes";   // holds the pair right
const std::string kRefused = "bcn-polkit-no";  // is refused it
const std::string kPlain = "daemon";           // never asks for it
const std::string kStranger = "nobody";        // holds no pairing
const std::string kStatusPaired = "1 version=0.1.0 protocol=1";
const std::string kStatusUnpaired = "0 version=0.1.0 protocol=1";

std::uint32_t uidOf(const std::string& user) {
  const passwd* account = ::getpwnam(user.c_str());
  return account ? account->pw_uid : 0xFFFF'FFFF;
}

// Whether `link` is administratively up, from `ip -o link show`.
std::optional<bool> linkIsUp(const std::string& link) {
  auto shown = runProcess({"ip", "-o", "link", "show", "dev", link});
  if (!shown || shown->exitCode != 0) return std::nullopt;
  const std::string& text = shown->standardOutput;
  const auto open = text.find('<'), close = text.find('>');
  if (open == std::string::npos || close == std::string::npos) return std::nullopt;
  const std::string flags = "," + text.substr(open + 1, close - open - 1) + ",";
  return flags.find(",UP,") != std::string::npos;
}

}  // namespace

PairingActor::PairingActor(testing::DaemonHarness& daemon, Options options)
    : daemon_(daemon), options_(std::move(options)), random_(options_.seed) {}

ProcessResult PairingActor::app(const std::string& user, const std::vector<std::string>& args) {
  return daemon_.run(Role::app, user, args, 60s);
}

ProcessResult PairingActor::console(const std::string& user, const std::vector<std::string>& args) {
  return daemon_.run(Role::console, user, args, 60s);
}

void PairingActor::fail(const std::string& what, const ProcessResult& result) {
  failures_.push_back(what + ": " + result.standardOutput + result.standardError);
}

std::string PairingActor::requestOf(const std::string& user) {
  for (int i = 0; i < 200; ++i) {
    const std::string id = testing::DaemonHarness::field(console(user, {"pending"}), "id");
    if (!id.empty()) return id;
    std::this_thread::sleep_for(50ms);
  }
  return "";
}

void PairingActor::pairApproved() {
  auto pairing = std::async(std::launch::async, [this] { return app(kAdmin, {"pair"}); });
  const std::string id = requestOf(kAdmin);
  auto approved = console(kAdmin, {"approve", id});
  if (approved.standardOutput != "ok\n") fail("approve " + id, approved);
  auto paired = pairing.get();
  const std::string token = testing::DaemonHarness::field(paired, "token");
  if (token.empty() && approved.standardOutput == "ok\n" &&
      testing::DaemonHarness::field(paired, "error") == "3 The pairing request has expired") {
    // The approval came between the app's request and its wait.
    ++undelivered_;
    ++operations_["pair-approved-before-the-wait"];
    return;
  }
  if (token.size() != 44) return fail("pairing wait of " + id, paired);
  paired_.push_back({kAdmin, token});
}

void PairingActor::pairRefused() {
  const std::string user = options_.polkit ? kRefused : kPlain;
  auto pairing = std::async(std::launch::async, [this, user] { return app(user, {"pair"}); });
  const std::string id = requestOf(user);
  if (options_.polkit) {
    // polkit refuses this user the right, so the console sends what it
    // has: a form naming itself, which the daemon must check and refuse.
    auto approved = runProcess(testing::DaemonHarness::commandAs(user, options_.consolePeer,
                                                                 {"send-form", "--form", "self", "--approve", id}),
                               {.timeout = 60s})
                        .value_or(ProcessResult{});
    if (approved.standardOutput != "error=4 Administrator authorization failed\n") fail("refused approval", approved);
  }
  auto denied = console(user, {"deny", id});
  if (denied.standardOutput != "ok\n") fail("deny " + id, denied);
  auto waited = pairing.get();
  if (testing::DaemonHarness::field(waited, "error") != "4 Administrator authorization failed") {
    fail("denied wait", waited);
  }
}

void PairingActor::pairAbandoned() {
  // The app goes away while the daemon holds its wait.
  auto argv = testing::DaemonHarness::commandAs(kPlain, daemon_.base() / "app-client", {"pair"});
  argv.erase(argv.begin());
  {
    ipc::testing::ChildPeer app("/usr/bin/setpriv", argv);
    const std::string opened = app.readUntil("id=", 20s);
    if (opened.find("id=") == std::string::npos) return fail("abandoned pairing never opened", {});
    std::this_thread::sleep_for(std::chrono::milliseconds(random_() % 200));
  }
  for (int i = 0; i < 200; ++i) {
    auto listed = console(kPlain, {"pending"});
    if (listed.exitCode == 0 && listed.standardOutput.empty()) return;
    std::this_thread::sleep_for(50ms);
  }
  fail("a request outlived the session that opened it", {});
}

void PairingActor::unpairOne() {
  if (paired_.empty()) return;
  const std::size_t which = random_() % paired_.size();
  const Token token = paired_[which];
  auto unpaired = app(token.user, {"unpair", token.token});
  if (unpaired.standardOutput != "ok\n") return fail("unpair", unpaired);
  paired_.erase(paired_.begin() + static_cast<std::ptrdiff_t>(which));
  revoked_.push_back(token);
}

void PairingActor::unpairAll() {
  auto revoked = console(kAdmin, {"unpair-all"});
  if (revoked.standardOutput != "ok\n") return fail("unpair-all", revoked);
  revoked_.insert(revoked_.end(), paired_.begin(), paired_.end());
  paired_.clear();
  undelivered_ = 0;
}

void PairingActor::switchService() {
  if (options_.services.empty()) return;
  const Service& service = options_.services[random_() % options_.services.size()];
  const bool enable = random_() % 2 == 0;
  if (paired_.empty()) {
    auto refused = app(kStranger, {"service", service.id, enable ? "on" : "off", "not-a-token"});
    if (refused.standardOutput != "error=1 This app isn't paired with the admin helper\n") {
      fail("unpaired service switch", refused);
    }
    return;
  }
  const Token& token = paired_[random_() % paired_.size()];
  auto switched = app(token.user, {"service", service.id, enable ? "on" : "off", token.token});
  if (switched.standardOutput != "ok\n") return fail("switch " + service.id, switched);
  if (linkIsUp(service.link) != enable) {
    failures_.push_back("link " + service.link + " is not " + (enable ? "up" : "down") + " after the switch");
  }
}

void PairingActor::scanTunnels() {
  auto tunnels = app(kStranger, {"tunnels"});
  const std::string line = "tunnel=" + options_.tunnel + " " + std::to_string(options_.tunnelOwner) + "\n";
  if (tunnels.exitCode != 0 || tunnels.standardOutput.find(line) == std::string::npos) {
    fail("tunnel scan missing " + line, tunnels);
  }
}

void PairingActor::step() {
  struct Choice {
    const char* name;
    void (PairingActor::*run)();
    unsigned weight;
  };
  const bool many = paired_.size() >= 6;
  const std::vector<Choice> choices{
      {"pair-approved", &PairingActor::pairApproved, options_.polkit && !many ? 25u : 0u},
      {"pair-refused", &PairingActor::pairRefused, 10},
      {"pair-abandoned", &PairingActor::pairAbandoned, 10},
      {"unpair", &PairingActor::unpairOne, paired_.empty() ? 0u : 15u},
      {"unpair-all", &PairingActor::unpairAll, options_.polkit ? (many ? 10u : 2u) : 0u},
      {"switch-service", &PairingActor::switchService, 25},
      {"scan-tunnels", &PairingActor::scanTunnels, 10},
  };
  unsigned total = 0;
  for (const auto& c : choices) total += c.weight;
  unsigned roll = static_cast<unsigned>(random_() % total);
  for (const auto& c : choices) {
    if (roll < c.weight) {
      ++operations_[c.name];
      (this->*c.run)();
      break;
    }
    roll -= c.weight;
  }
  checkPairings();
}

void PairingActor::checkPairings() {
  using Entry = std::pair<std::uint32_t, std::vector<std::uint8_t>>;
  std::vector<Entry> expected;
  for (const auto& t : paired_) {
    const auto digest = PairingStore::digest(t.token);
    expected.emplace_back(uidOf(t.user), std::vector<std::uint8_t>(digest.begin(), digest.end()));
  }
  std::vector<Entry> stored;
  const auto file = daemon_.stateDirectory() / PairingStore::kFileName;
  if (std::filesystem::exists(file)) {
    auto bytes = files::readFile(file, PairingStore::kMaxFileBytes);
    auto pairings = bytes ? PairingStore::decode(*bytes) : std::nullopt;
    if (!pairings) return failures_.push_back("the pairing file does not decode");
    for (const auto& p : *pairings) stored.emplace_back(p.uid, p.digest);
  }
  std::sort(expected.begin(), expected.end());
  std::sort(stored.begin(), stored.end());
  // Every token handed out is stored; besides them only the undelivered
  // pairings, all of the approving user.
  std::vector<Entry> extra;
  std::set_difference(stored.begin(), stored.end(), expected.begin(), expected.end(), std::back_inserter(extra));
  const bool extrasUndelivered =
      extra.size() == undelivered_ &&
      std::all_of(extra.begin(), extra.end(), [&](const Entry& e) { return e.first == uidOf(kAdmin); });
  if (stored.size() != expected.size() + undelivered_ || !extrasUndelivered) {
    failures_.push_back("the pairing file holds " + std::to_string(stored.size()) +
                        " pairings, the daemon handed out " + std::to_string(expected.size()) + " and " +
                        std::to_string(undelivered_) + " went to nobody");
  }
  // What the daemon answers for the tokens: a couple of each kind per step.
  auto status = [&](const std::string& user, const std::string& token) {
    return testing::DaemonHarness::field(app(user, {"status", token}), "paired");
  };
  if (!paired_.empty()) {
    const Token& t = paired_[random_() % paired_.size()];
    if (status(t.user, t.token) != kStatusPaired) failures_.push_back("a paired token is not paired");
    if (status(kStranger, t.token) != kStatusUnpaired) failures_.push_back("a token pairs another user");
  }
  if (!revoked_.empty()) {
    const Token& t = revoked_[random_() % revoked_.size()];
    if (status(t.user, t.token) != kStatusUnpaired) failures_.push_back("a revoked token is still paired");
  }
}

}  // namespace bcn::load
