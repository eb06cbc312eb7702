// Test-only: a service on a temporary socket whose sessions record what
// they are asked and answer the app protocol in a trivial way.
//   statusWithToken:reply:   {"status": {"version": "test", "protocol": 1,
//                             "paired": token present}}
//   beginPairingWithReply:   {"value": "REQUEST"}
//   awaitPairingWithRequestID:reply:  held; the test answers it
//   tunnelOwnersWithReply:   {"items": []}
//   other methods            {} (no error)
// A session may be told to block in handleCall until released, to observe
// ordering and concurrency.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/admin_methods.h"
#include "platform/ipc/server.h"
#include "platform/ipc/service_socket.h"
#include "platform/testing/test_support.h"

namespace bcn::ipc::testing {

struct Record {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> calls;  // selectors, in the order handled
  std::vector<Peer> peers;         // of every session made
  std::vector<Reply> held;
  int ended = 0;
  int maxInCall = 0;
  int inCall = 0;

  template <typename Predicate>
  bool waitFor(Predicate predicate, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return predicate(*this); });
  }
};

class RecordingSession final : public Session {
 public:
  RecordingSession(std::shared_ptr<Record> record, std::chrono::milliseconds callTime)
      : record_(std::move(record)), callTime_(callTime) {}

  void handleCall(const MethodSpec& method, const PlistDictionary& arguments, Reply reply) override {
    {
      std::lock_guard guard(record_->mutex);
      ++record_->inCall;
      record_->maxInCall = std::max(record_->maxInCall, record_->inCall);
      record_->calls.emplace_back(method.selector);
      record_->changed.notify_all();
    }
    if (callTime_.count() > 0) std::this_thread::sleep_for(callTime_);
    std::string selector(method.selector);
    if (selector == "statusWithToken:reply:") {
      reply(PlistDictionary{{"status", PlistDictionary{{"version", "test"},
                                                       {"protocol", 1},
                                                       {"paired", arguments.find("token") != nullptr}}}});
    } else if (selector == "beginPairingWithReply:") {
      reply(PlistDictionary{{"value", "REQUEST"}});
    } else if (selector == "tunnelOwnersWithReply:") {
      reply(PlistDictionary{{"items", PlistArray{}}});
    } else if (selector == "awaitPairingWithRequestID:reply:") {
      std::lock_guard guard(record_->mutex);
      record_->held.push_back(reply);
      record_->changed.notify_all();
    } else {
      reply(PlistDictionary{});
    }
    std::lock_guard guard(record_->mutex);
    --record_->inCall;
  }

 private:
  std::shared_ptr<Record> record_;
  std::chrono::milliseconds callTime_;
};

// A server with one service on `dir/service`, recording into `record`,
// holding at most `connectionsTotal` connections (0: no limit).
struct TestService {
  explicit TestService(const ServiceProtocol& protocol = adminAppProtocol(),
                       std::optional<ServiceRequirement> requirement = std::nullopt,
                       std::chrono::milliseconds callTime = {}, std::size_t connectionsTotal = 0)
      : path(dir / "service"), server(Server::defaultThreads(), 0, connectionsTotal) {
    auto fd = bindServiceSocket(path);
    if (!fd) throw std::runtime_error(fd.error().description);
    Service service;
    service.protocol = &protocol;
    service.requirement = std::move(requirement);
    service.makeSession = [record = record, callTime](const Peer& peer) {
      std::lock_guard guard(record->mutex);
      record->peers.push_back(peer);
      return std::make_shared<RecordingSession>(record, callTime);
    };
    service.ended = [record = record](const std::shared_ptr<Session>&) {
      std::lock_guard guard(record->mutex);
      ++record->ended;
      record->changed.notify_all();
    };
    auto served = server.serve(*fd, std::move(service));
    if (!served) throw std::runtime_error(served.error().description);
  }

  bcn::testing::TempDir dir;
  std::filesystem::path path;
  std::shared_ptr<Record> record = std::make_shared<Record>();
  Server server;
};

}  // namespace bcn::ipc::testing
