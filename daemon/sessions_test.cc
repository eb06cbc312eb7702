// The app session over a real IPC server: a status call may be answered
// on the IPC thread, but never ahead of its own connection's earlier calls.
#include "daemon/sessions.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>

#include "daemon/testing/daemon_fixture.h"
#include "platform/ipc/client.h"
#include "platform/ipc/service_socket.h"
#include "protocol/admin_methods.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using testing::DaemonFixture;
using testing::ReplyBox;

// Each tunnel scan waits until the test lets it finish.
class HeldScan {
 public:
  SharedTunnelScan::Scan scan() {
    return [this] {
      {
        std::lock_guard guard(mutex_);
        ++started_;
      }
      changed_.notify_all();
      released_.wait();
      return SharedTunnelScan::Owners{};
    };
  }
  bool waitStarted() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return started_ > 0; });
  }
  void release() { release_.set_value(); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int started_ = 0;
  std::promise<void> release_;
  std::shared_future<void> released_ = release_.get_future().share();
};

struct AppServer {
  explicit AppServer(SharedTunnelScan::Scan scan) : tunnels(0ms, std::move(scan)) {
    auto fd = ipc::bindServiceSocket(path);
    EXPECT_TRUE(fd);
    ipc::Service service;
    service.protocol = &adminAppProtocol();
    service.makeSession = [this](const ipc::Peer& peer) {
      return std::make_shared<AppSession>(*f.daemon, workers, tunnels, peer);
    };
    service.ended = [](const std::shared_ptr<ipc::Session>& session) {
      std::static_pointer_cast<AppSession>(session)->end();
    };
    if (fd) {
      EXPECT_TRUE(server.serve(*fd, std::move(service)));
    }
  }
  std::unique_ptr<ipc::Client> connect() {
    auto client = ipc::Client::connect(path);
    EXPECT_TRUE(client);
    return client ? std::move(*client) : nullptr;
  }

  DaemonFixture f;
  std::filesystem::path path = f.dir.path() / "app";
  SharedTunnelScan tunnels;
  WorkScheduler workers{4, 2};
  ipc::Server server{2};
};

TEST(AppSessionStatus, WaitsForItsConnectionsEarlierCallsButNotForAnotherConnections) {
  HeldScan held;
  AppServer app(held.scan());
  auto first = app.connect();
  auto second = app.connect();
  ASSERT_TRUE(first && second);

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> answered;
  auto note = [&](std::string what) {
    return [&, what](ipc::Client::Result r) {
      std::lock_guard guard(mutex);
      answered.push_back(r && !r->error ? what : "failed");
      changed.notify_all();
    };
  };
  first->call("tunnelOwnersWithReply:", {}, note("tunnels"));
  ASSERT_TRUE(held.waitStarted());
  first->call("statusWithToken:reply:", {}, note("status"));

  // The same user's other connection is answered while the scan is held;
  // the first connection's status is not.
  auto other = second->callSync("statusWithToken:reply:", {}, 10s);
  ASSERT_TRUE(other && !other->error);
  {
    std::lock_guard guard(mutex);
    EXPECT_TRUE(answered.empty()) << "answered ahead of the call before it: " << answered.front();
  }
  held.release();
  std::unique_lock lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return answered.size() == 2; }));
  EXPECT_EQ(answered, (std::vector<std::string>{"tunnels", "status"}));
}

TEST(AppSessionStatus, ReportsAPairingMadeOrDroppedJustBefore) {
  AppServer app({});
  auto client = app.connect();
  ASSERT_TRUE(client);
  const auto paired = [&](const std::string& token) {
    auto r = client->callSync("statusWithToken:reply:", {{"token", token}}, 10s);
    const PlistValue* status = r && !r->error ? r->values.find("status") : nullptr;
    const PlistValue* value = status && status->dictionary() ? status->dictionary()->find("paired") : nullptr;
    return value && value->boolean() ? *value->boolean() : std::optional<bool>{};
  };
  const std::uint32_t uid = ::geteuid();
  ReplyBox box;
  const std::string id = app.f.begin(uid, 1);
  app.f.daemon->awaitPairing(id, 1, box.reply());
  ASSERT_TRUE(app.f.approve(id, uid));
  const std::string token = box.only().value();
  EXPECT_EQ(paired(token), true);
  ASSERT_TRUE(client->callSync("unpairWithToken:reply:", {{"token", token}}, 10s));
  EXPECT_EQ(paired(token), false);
}

}  // namespace
}  // namespace bcn
