#include "platform/ipc/client.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <future>
#include <thread>

#include "platform/ipc/frame.h"
#include "platform/ipc/testing/test_service.h"

namespace bcn::ipc {
namespace {

using testing::Record;
using testing::TestService;
using namespace std::chrono_literals;

TEST(IpcClient, ConnectingToNoServiceFails) {
  bcn::testing::TempDir dir;
  auto client = Client::connect(dir / "nothing-here");
  ASSERT_FALSE(client);
  EXPECT_EQ(client.error().code, ENOENT);
}

TEST(IpcClient, SynchronousCallTimesOutAndTheLateReplyIsDropped) {
  TestService service;
  auto client = std::move(*Client::connect(service.path));
  auto waited = client->callSync("awaitPairingWithRequestID:reply:", {{"requestID", "R"}}, 100ms);
  ASSERT_FALSE(waited);
  EXPECT_EQ(waited.error(), timedOut());
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.held.size() == 1; }));
  service.record->held.front()(PlistDictionary{{"value", "LATE"}});
  auto next = client->callSync("beginPairingWithReply:", {}, 10s);
  ASSERT_TRUE(next);
  EXPECT_EQ(*next->values.find("value")->text(), "REQUEST");
}

TEST(IpcClient, LossOfTheServiceFailsWaitingAndLaterCalls) {
  auto service = std::make_unique<TestService>();
  std::promise<PlatformError> endedWith;
  Client::Options options;
  options.ended = [&](const PlatformError& e) { endedWith.set_value(e); };
  auto client = std::move(*Client::connect(service->path, options));
  std::promise<Client::Result> waiting;
  client->call("awaitPairingWithRequestID:reply:", {{"requestID", "R"}},
               [&](Client::Result r) { waiting.set_value(std::move(r)); });
  ASSERT_TRUE(service->record->waitFor([](Record& r) { return r.held.size() == 1; }));
  service.reset();

  auto result = waiting.get_future().get();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), connectionInterrupted());
  EXPECT_EQ(endedWith.get_future().get(), connectionInterrupted());
  EXPECT_FALSE(client->isOpen());
  auto after = client->callSync("beginPairingWithReply:", {}, 10s);
  ASSERT_FALSE(after);
  EXPECT_EQ(after.error(), connectionInvalid());
}

// A lone synchronous caller reads the socket itself. A reply it reads for
// another thread's call must still complete on the client's I/O thread,
// and the caller go on waiting for its own.
TEST(IpcClient, RepliesASynchronousCallerReadsForOthersCompleteOnTheIoThread) {
  TestService service;
  auto client = std::move(*Client::connect(service.path));
  std::thread::id completedOn;
  std::thread other([&] {
    if (!service.record->waitFor([](Record& r) { return r.held.size() == 1; })) return;
    std::promise<std::thread::id> completion;
    client->call("beginPairingWithReply:", {}, [&](Client::Result r) {
      EXPECT_TRUE(r);
      completion.set_value(std::this_thread::get_id());
    });
    auto completed = completion.get_future();
    if (completed.wait_for(10s) == std::future_status::ready) completedOn = completed.get();
    service.record->held.front()(PlistDictionary{{"value", "MINE"}});
  });
  auto mine = client->callSync("awaitPairingWithRequestID:reply:", {{"requestID", "R"}}, 20s);
  other.join();
  ASSERT_TRUE(mine);
  EXPECT_EQ(*mine->values.find("value")->text(), "MINE");
  ASSERT_NE(completedOn, std::thread::id());
  EXPECT_NE(completedOn, std::this_thread::get_id());
  EXPECT_NE(completedOn, other.get_id());
}

TEST(IpcClient, ClosingEndsASynchronousCallersWaitAtOnce) {
  TestService service;
  auto client = std::move(*Client::connect(service.path));
  std::thread closer([&] {
    if (service.record->waitFor([](Record& r) { return r.held.size() == 1; })) client->close();
  });
  // Left waiting, it would end only when its 20 s run out.
  const auto start = std::chrono::steady_clock::now();
  auto waited = client->callSync("awaitPairingWithRequestID:reply:", {{"requestID", "R"}}, 20s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  closer.join();
  ASSERT_FALSE(waited);
  EXPECT_EQ(waited.error(), connectionInvalid());
  EXPECT_FALSE(client->isOpen());
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.ended == 1; }));
}

// Without an `ended` listener nothing watches the socket between calls;
// isOpen() must still tell that the service has gone.
TEST(IpcClient, IsOpenNoticesAServiceThatLeftBetweenCalls) {
  auto service = std::make_unique<TestService>();
  auto client = std::move(*Client::connect(service->path));
  ASSERT_TRUE(client->callSync("statusWithToken:reply:", {}, 10s));
  EXPECT_TRUE(client->isOpen());
  service.reset();
  bool closed = false;
  for (int i = 0; i < 1000 && !closed; ++i) {
    closed = !client->isOpen();
    if (!closed) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(closed);
  auto after = client->callSync("statusWithToken:reply:", {}, 10s);
  ASSERT_FALSE(after);
  EXPECT_EQ(after.error(), connectionInvalid());
}

TEST(IpcClient, CallMadeRightAfterCloseNeverReachesTheService) {
  // close() only asks the I/O thread to end the connection, while a caller
  // with nothing queued writes its frame itself: that write must not slip
  // out in between. Closing and calling from a completion holds the I/O
  // thread, so the end cannot come first.
  TestService service;
  auto client = std::move(*Client::connect(service.path));
  std::promise<Client::Result> after;
  client->call("beginPairingWithReply:", {}, [&](Client::Result) {
    client->close();
    client->call("beginPairingWithReply:", {}, [&](Client::Result r) { after.set_value(std::move(r)); });
  });
  auto result = after.get_future().get();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), connectionInvalid());
  ASSERT_TRUE(service.record->waitFor([](Record& r) { return r.ended == 1; }));
  std::lock_guard guard(service.record->mutex);
  EXPECT_EQ(service.record->calls, std::vector<std::string>{"beginPairingWithReply:"});
}

TEST(IpcClient, ManyThreadsEachGetTheirOwnAnswers) {
  TestService service;
  auto client = std::move(*Client::connect(service.path));
  std::vector<std::thread> threads;
  std::atomic<int> right{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        PlistDictionary arguments;
        if ((t + i) % 2) arguments.set("token", "T");
        auto r = client->callSync("statusWithToken:reply:", arguments, 10s);
        const PlistValue* status = r ? r->values.find("status") : nullptr;
        const PlistValue* paired = status ? status->dictionary()->find("paired") : nullptr;
        if (paired && paired->boolean() == ((t + i) % 2 == 1)) ++right;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(right.load(), 400);
}

TEST(IpcClient, ServiceThatBreaksTheProtocolIsDropped) {
  bcn::testing::TempDir dir;
  auto fd = bindServiceSocket(dir / "liar");
  ASSERT_TRUE(fd);
  std::thread liar([listener = *fd] {
    int peer = ::accept(listener, nullptr, nullptr);
    char buffer[4096];
    (void)::recv(peer, buffer, sizeof buffer, 0);
    const std::uint8_t header[] = {0x7f, 0xff, 0xff, 0xff};
    (void)::send(peer, header, sizeof header, MSG_NOSIGNAL);
    (void)::recv(peer, buffer, sizeof buffer, 0);  // until the client hangs up
    ::close(peer);
    ::close(listener);
  });
  auto client = std::move(*Client::connect(dir / "liar"));
  auto result = client->callSync("beginPairingWithReply:", {}, 10s);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), replyInvalid());
  client.reset();
  liar.join();
}

TEST(IpcClient, UnencodableArgumentsFailWithoutBreakingTheConnection) {
  TestService service;
  auto client = std::move(*Client::connect(service.path));
  auto bad = client->callSync("statusWithToken:reply:", {{"token", std::string("a\0b", 3)}}, 10s);
  EXPECT_FALSE(bad);
  EXPECT_TRUE(client->callSync("statusWithToken:reply:", {}, 10s));
}

}  // namespace
}  // namespace bcn::ipc
