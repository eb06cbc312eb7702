#include "platform/ipc/server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "platform/ipc/client.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/testing/child_peer.h"
#include "platform/ipc/testing/raw_peer.h"
#include "platform/ipc/testing/test_service.h"
#include "platform/subprocess.h"
#include "protocol/admin_methods.h"

namespace bcn::ipc {
namespace {

using testing::ChildPeer;
using testing::RawPeer;
using testing::Record;
using testing::TestService;
using namespace std::chrono_literals;

std::unique_ptr<Client> connectTo(const TestService& service) {
  auto client = Client::connect(service.path);
  EXPECT_TRUE(client) << (client ? "" : client.error().description);
  return client ? std::move(*client) : nullptr;
}

std::vector<std::uint8_t> frameOfPlist(const PlistValue& value) { return encodeFrame(*encodeBinaryPlist(value)); }

const PlistValue* statusEntry(const Client::Result& result, std::string_view key) {
  if (!result) return nullptr;
  const PlistValue* status = result->values.find("status");
  return status && status->dictionary() ? status->dictionary()->find(key) : nullptr;
}

TEST(IpcServer, AnswersCallsAndKnowsItsPeer) {
  TestService service;
  auto client = connectTo(service);
  ASSERT_TRUE(client);
  auto anonymous = client->callSync("statusWithToken:reply:", {}, 10s);
  auto withToken = client->callSync("statusWithToken:reply:", {{"token", "T"}}, 10s);
  ASSERT_TRUE(statusEntry(anonymous, "paired") && statusEntry(withToken, "paired"));
  EXPECT_EQ(statusEntry(anonymous, "paired")->boolean(), false);
  EXPECT_EQ(statusEntry(withToken, "paired")->boolean(), true);
  EXPECT_EQ(client->server().pid, ::getpid());

  std::lock_guard guard(service.record->mutex);
  ASSERT_EQ(service.record->peers.size(), 1u);
  const Peer& peer = service.record->peers.front();
  EXPECT_EQ(peer.credentials.pid, ::getpid());
  EXPECT_EQ(peer.credentials.uid, ::geteuid());
  EXPECT_GE(peer.pidfd, 0) << "this kernel should hand out SO_PEERPIDFD";
  EXPECT_EQ(peer.identity, ProcessIdentity::ofSelf());
}

TEST(IpcServer, CallsOfOneConnectionRunOneAtATimeInOrder) {
  TestService service(adminAppProtocol(), std::nullopt, 5ms);
  auto client = connectTo(service);
  ASSERT_TRUE(client);
  std::mutex mutex;
  std::vector<std::string> answered;
  const std::vector<std::string> selectors = {
      "statusWithToken:reply:", "beginPairingWithReply:", "tunnelOwnersWithReply:", "unpairWithToken:reply:"};
  for (int round = 0; round < 5; ++round) {
    for (const auto& selector : selectors) {
      PlistDictionary arguments;
      if (selector == "unpairWithToken:reply:") arguments.set("token", "T");
      client->call(selector, arguments, [&, selector](Client::Result r) {
        std::lock_guard guard(mutex);
        answered.push_back(r ? selector : "failed");
      });
    }
  }
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.calls.size() == 20; }));
  ASSERT_TRUE(client->callSync("statusWithToken:reply:", {}, 10s));
  std::lock_guard guard(service.record->mutex);
  EXPECT_EQ(service.record->maxInCall, 1);
  for (std::size_t i = 0; i < 20; ++i) EXPECT_EQ(service.record->calls[i], selectors[i % 4]);
  std::lock_guard answers(mutex);
  ASSERT_EQ(answered.size(), 20u);
  for (std::size_t i = 0; i < 20; ++i) EXPECT_EQ(answered[i], selectors[i % 4]);
}

TEST(IpcServer, ConnectionsRunConcurrently) {
  // Each call takes 300 ms; four connections finishing in well under four
  // times that shows they did not wait for each other.
  TestService service(adminAppProtocol(), std::nullopt, 300ms);
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(connectTo(service));
  std::atomic<int> done{0};
  const auto started = std::chrono::steady_clock::now();
  for (auto& c : clients) c->call("beginPairingWithReply:", {}, [&](Client::Result) { ++done; });
  while (done < 4 && std::chrono::steady_clock::now() - started < 10s) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(done.load(), 4);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);
  std::lock_guard guard(service.record->mutex);
  EXPECT_GE(service.record->maxInCall, 2);
}

TEST(IpcServer, HeldReplyIsAnsweredLaterOnceFromAnotherThread) {
  TestService service;
  auto client = connectTo(service);
  std::promise<Client::Result> waited;
  client->call("awaitPairingWithRequestID:reply:", {{"requestID", "R"}},
               [&](Client::Result r) { waited.set_value(std::move(r)); });
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.held.size() == 1; }));
  // Later calls are not blocked by the held one.
  EXPECT_TRUE(client->callSync("beginPairingWithReply:", {}, 10s));

  Reply held = service.record->held.front();
  std::thread([held] {
    held(PlistDictionary{{"value", "TOKEN"}});
    held(PlistDictionary{{"value", "SECOND"}});
    held.fail(PlatformError{"x", 1, "late"});
  }).join();
  EXPECT_TRUE(held.answered());
  auto result = waited.get_future().get();
  ASSERT_TRUE(result);
  EXPECT_EQ(*result->values.find("value")->text(), "TOKEN");
  // Had the extra answers gone out, this call would be matched with one of
  // them or the connection would have broken.
  auto next = client->callSync("beginPairingWithReply:", {}, 10s);
  ASSERT_TRUE(next);
  EXPECT_EQ(*next->values.find("value")->text(), "REQUEST");
}

TEST(IpcServer, ClosingEndsTheSessionOnceAndLateRepliesAreDropped) {
  TestService service;
  auto client = connectTo(service);
  client->call("awaitPairingWithRequestID:reply:", {{"requestID", "R"}}, [](Client::Result) {});
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.held.size() == 1; }));
  client.reset();
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.ended == 1; }));
  service.record->held.front()(PlistDictionary{{"value", "TOKEN"}});
  std::this_thread::sleep_for(50ms);
  std::lock_guard guard(service.record->mutex);
  EXPECT_EQ(service.record->ended, 1);
}

TEST(IpcServer, StopEndsEveryConnection) {
  auto service = std::make_unique<TestService>();
  auto a = connectTo(*service);
  auto b = connectTo(*service);
  ASSERT_TRUE(a->callSync("beginPairingWithReply:", {}, 10s));
  ASSERT_TRUE(b->callSync("beginPairingWithReply:", {}, 10s));
  auto record = service->record;
  service->server.stop();
  EXPECT_EQ(record->ended, 2);
  auto after = a->callSync("beginPairingWithReply:", {}, 10s);
  ASSERT_FALSE(after);
}

// Hostile peers: each gets its connection closed with no call executed,
// and the service keeps answering a well-behaved client meanwhile.
class HostilePeer : public ::testing::Test {
 protected:
  void expectRefused(const std::vector<std::uint8_t>& bytes) {
    RawPeer peer(service.path);
    ASSERT_TRUE(peer.connected());
    peer.send(bytes);
    EXPECT_TRUE(peer.closedByServer());
    EXPECT_TRUE(peer.received().empty()) << "no reply to a refused call";
    auto ok = good->callSync("statusWithToken:reply:", {}, 10s);
    EXPECT_TRUE(ok);
    std::lock_guard guard(service.record->mutex);
    for (const auto& call : service.record->calls) EXPECT_EQ(call, "statusWithToken:reply:");
  }

  TestService service;
  std::unique_ptr<Client> good = connectTo(service);
};

TEST_F(HostilePeer, GarbageFrameIsRefused) {
  const std::string text = "GET / HTTP/1.1\r\n\r\n";
  expectRefused(encodeFrame(std::vector<std::uint8_t>(text.begin(), text.end())));
}

TEST_F(HostilePeer, FrameOverTheLimitIsRefusedBeforeItsBody) {
  std::vector<std::uint8_t> header{0x00, 0x10, 0x00, 0x01};  // 1 MiB + 1
  expectRefused(header);
}

TEST_F(HostilePeer, ZeroLengthFrameIsRefused) { expectRefused({0, 0, 0, 0}); }

TEST_F(HostilePeer, WrongShapesAreRefused) {
  expectRefused(frameOfPlist(PlistArray{"statusWithToken:reply:"}));
  expectRefused(frameOfPlist(PlistDictionary{{"sequence", 1}, {"selector", "statusWithToken:reply:"}}));
}

TEST_F(HostilePeer, UnknownSelectorIsRefused) {
  auto frame = callFrame({1, "destroyEverythingWithReply:", {}});
  expectRefused(*frame);
}

TEST_F(HostilePeer, WrongArgumentTypeIsRefused) {
  auto frame = callFrame({1, "statusWithToken:reply:", {{"token", PlistData{1, 2}}}});
  expectRefused(*frame);
}

TEST_F(HostilePeer, CallAfterAValidOneOnTheSameConnection) {
  // The first call runs and is answered; the bad one behind it closes the
  // connection.
  auto good1 = *callFrame({1, "beginPairingWithReply:", {}});
  auto bad = *callFrame({2, "beginPairingWithReply:", {{"x", 1}}});
  good1.insert(good1.end(), bad.begin(), bad.end());
  RawPeer peer(service.path);
  peer.send(good1);
  EXPECT_TRUE(peer.closedByServer());
  std::lock_guard guard(service.record->mutex);
  EXPECT_EQ(std::count(service.record->calls.begin(), service.record->calls.end(), "beginPairingWithReply:"), 1);
}

TEST_F(HostilePeer, DisconnectMidFrameRunsNoCallAndEndsTheSession) {
  auto frame = *callFrame({1, "beginPairingWithReply:", {}});
  {
    RawPeer peer(service.path);
    peer.send(std::span(frame).first(frame.size() - 3));
  }
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.ended == 1; }));
  std::lock_guard guard(service.record->mutex);
  EXPECT_TRUE(service.record->calls.empty());
}

TEST_F(HostilePeer, PeerThatNeverReadsCannotGrowTheServerWithoutBound) {
  // 6 MiB of calls whose replies are never read: the server stops reading
  // once its queue is full, instead of buffering everything.
  RawPeer peer(service.path);
  auto frame = *callFrame({1, "tunnelOwnersWithReply:", {}});
  std::vector<std::uint8_t> burst;
  while (burst.size() < (1u << 20)) burst.insert(burst.end(), frame.begin(), frame.end());
  std::thread writer([&] {
    for (int i = 0; i < 64; ++i) {
      if (!peer.send(burst)) break;
    }
  });
  // Wait for the server to stall: no new call for half a second. Filling
  // 4 MiB of replies takes the better part of a minute on a busy machine
  // under the sanitizers.
  std::size_t handled = 0;
  bool stalled = false;
  for (auto start = std::chrono::steady_clock::now(); !stalled && std::chrono::steady_clock::now() - start < 120s;) {
    std::this_thread::sleep_for(500ms);
    std::lock_guard guard(service.record->mutex);
    stalled = handled == service.record->calls.size();
    handled = service.record->calls.size();
  }
  EXPECT_TRUE(stalled);
  EXPECT_LT(handled, 64 * burst.size() / frame.size());
  EXPECT_TRUE(good->callSync("statusWithToken:reply:", {}, 10s));
  peer.shutdown();
  writer.join();
}

TEST(IpcServerChildren, ChildProcessIsServedAndItsDeathEndsTheSession) {
  TestService service;
  ChildPeer status(BCN_IPC_TEST_PEER, {service.path.string(), "status"});
  EXPECT_NE(status.readUntil("\n").find("paired=0"), std::string::npos);
  const pid_t statusPid = status.pid();
  EXPECT_EQ(status.wait(), 0);

  ChildPeer holder(BCN_IPC_TEST_PEER, {service.path.string(), "hold"});
  ASSERT_NE(holder.readUntil("held").find("held"), std::string::npos);
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.held.size() == 1; }));
  const pid_t holderPid = holder.pid();
  holder.kill();
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.ended == 2; }));
  service.record->held.front()(PlistDictionary{{"value", "TOKEN"}});  // no one to hear it

  std::lock_guard guard(service.record->mutex);
  ASSERT_EQ(service.record->peers.size(), 2u);
  EXPECT_EQ(service.record->peers[0].credentials.pid, statusPid);
  EXPECT_EQ(service.record->peers[1].credentials.pid, holderPid);
  ASSERT_TRUE(service.record->peers[1].identity);
  EXPECT_EQ(service.record->peers[1].identity->pid, holderPid);
}

}  // namespace
}  // namespace bcn::ipc

namespace bcn::ipc {
namespace {

// The client example of docs/ipc.md, in another language, against a real
// service: the wire format is what the document says.
TEST(IpcWireFormat, PythonClientFromTheDocumentationWorks) {
  if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "needs python3";
  testing::TestService service;
  const std::string script = R"(
import plistlib, socket, struct, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.connect(sys.argv[1])
body = plistlib.dumps({"sequence": 1, "selector": "statusWithToken:reply:",
                       "arguments": {"token": "T"}}, fmt=plistlib.FMT_BINARY)
s.sendall(struct.pack(">I", len(body)) + body)
def read_exactly(n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk: raise ConnectionError("closed by the daemon")
        data += chunk
    return data
(length,) = struct.unpack(">I", read_exactly(4))
print(plistlib.loads(read_exactly(length)))
)";
  bcn::testing::writeText(service.dir / "client.py", script);
  auto result = runProcess({"/usr/bin/python3", (service.dir / "client.py").string(), service.path.string()});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->exitCode, 0) << result->standardError;
  EXPECT_NE(result->standardOutput.find("'sequence': 1"), std::string::npos) << result->standardOutput;
  EXPECT_NE(result->standardOutput.find("'paired': True"), std::string::npos) << result->standardOutput;
}

// A reply given on the connection's thread must not overtake one another
// thread gave just before it: the peer would see them in the wrong order.
TEST(IpcServer, RepliesLeaveInTheOrderTheyWereGiven) {
  struct HoldingSession final : Session {
    std::optional<Reply> held;
    void handleCall(const MethodSpec& method, const PlistDictionary&, Reply reply) override {
      if (method.selector == "awaitPairingWithRequestID:reply:") {
        held = reply;
        return;
      }
      // The held call is answered from another thread, finished before
      // this one is answered here.
      std::thread([held = *held] { held(PlistDictionary{{"value", "first"}}); }).join();
      reply(PlistDictionary{{"status", PlistDictionary{}}});
    }
  };
  bcn::testing::TempDir dir;
  Server server(1);
  auto fd = bindServiceSocket(dir / "service");
  ASSERT_TRUE(fd);
  Service service;
  service.protocol = &adminAppProtocol();
  service.makeSession = [](const Peer&) { return std::make_shared<HoldingSession>(); };
  ASSERT_TRUE(server.serve(*fd, std::move(service)));
  auto client = Client::connect(dir / "service");
  ASSERT_TRUE(client);
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> order;
  auto note = [&](std::string what) {
    return [&, what](Client::Result r) {
      std::lock_guard guard(mutex);
      order.push_back(r ? what : "failed");
      changed.notify_all();
    };
  };
  (*client)->call("awaitPairingWithRequestID:reply:", {{"requestID", "R"}}, note("held"));
  (*client)->call("statusWithToken:reply:", {}, note("status"));
  std::unique_lock lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return order.size() == 2; }));
  EXPECT_EQ(order, (std::vector<std::string>{"held", "status"}))
      << "the status reply reached the peer before the reply given ahead of it";
}

}  // namespace
}  // namespace bcn::ipc
