// What one peer, or all of them together, can make the server hold: open
// connections and calls it has not answered yet.
#include <gtest/gtest.h>

#include "platform/ipc/client.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/testing/raw_peer.h"
#include "platform/ipc/testing/test_service.h"

namespace bcn::ipc {
namespace {

using testing::RawPeer;
using testing::TestService;
using namespace std::chrono_literals;

TEST(IpcServerLimits, EveryoneTogetherIsCappedAndTheRefusalSaysWhy) {
  TestService service(adminAppProtocol(), std::nullopt, {}, 3);
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 3; ++i) {
    auto client = Client::connect(service.path);
    ASSERT_TRUE(client);
    ASSERT_TRUE((*client)->callSync("statusWithToken:reply:", {}, 10s));
    clients.push_back(std::move(*client));
  }
  auto refused = Client::connect(service.path);
  ASSERT_TRUE(refused);
  auto answer = (*refused)->callSync("statusWithToken:reply:", {}, 10s);
  ASSERT_FALSE(answer);
  EXPECT_EQ(answer.error(), serviceBusy());

  // A place that frees up is given to the next peer.
  clients.pop_back();
  ASSERT_TRUE(service.record->waitFor([](const testing::Record& r) { return r.ended == 1; }));
  auto next = Client::connect(service.path);
  ASSERT_TRUE(next);
  EXPECT_TRUE((*next)->callSync("statusWithToken:reply:", {}, 10s));
}

TEST(IpcServerLimits, APeerThatPipelinesCallsIsReadOnlyAsFarAsItsOutstandingCalls) {
  TestService service;
  RawPeer peer(service.path);
  ASSERT_TRUE(peer.connected());
  // Waits the service holds unanswered, sent in one go.
  std::vector<std::uint8_t> bytes;
  for (std::uint64_t sequence = 1; sequence <= 50; ++sequence) {
    auto frame = callFrame({sequence, "awaitPairingWithRequestID:reply:", {{"requestID", "R"}}});
    bytes.insert(bytes.end(), frame->begin(), frame->end());
  }
  ASSERT_TRUE(peer.send(bytes));
  const auto held = [](std::size_t n) { return [n](const testing::Record& r) { return r.held.size() >= n; }; };
  ASSERT_TRUE(service.record->waitFor(held(Connection::kMaxCallsOutstanding)));
  EXPECT_FALSE(service.record->waitFor(held(Connection::kMaxCallsOutstanding + 1), 500ms))
      << "the server went on reading calls while " << Connection::kMaxCallsOutstanding << " were unanswered";

  // Each answer lets one more call in.
  Reply first = [&] {
    std::lock_guard guard(service.record->mutex);
    return service.record->held.front();
  }();
  first(PlistDictionary{{"value", "T"}});
  EXPECT_TRUE(service.record->waitFor(held(Connection::kMaxCallsOutstanding + 1)));
  // A call dropped unanswered counts as finished, too.
  {
    std::lock_guard guard(service.record->mutex);
    service.record->held.erase(service.record->held.begin() + 1);
  }
  EXPECT_TRUE(service.record->waitFor(held(Connection::kMaxCallsOutstanding + 1)));
  std::lock_guard guard(service.record->mutex);
  EXPECT_EQ(service.record->calls.size(), Connection::kMaxCallsOutstanding + 2);
}

}  // namespace
}  // namespace bcn::ipc
