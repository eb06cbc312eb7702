#include "netcore/sysconfig/network_change_watcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/netprefs/default_preferences.h"
#include "platform/netprefs/testing/net_namespace.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

using namespace std::chrono_literals;
using bcn::testing::runIp;

// A serial queue on a thread of its own, standing in for the owner's queue.
class SerialQueue {
 public:
  SerialQueue() : thread_([this] { run(); }) {}
  ~SerialQueue() {
    {
      std::lock_guard guard(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  NetworkChangeWatcher::Executor executor() {
    return [this](std::function<void()> task) {
      std::lock_guard guard(mutex_);
      tasks_.push_back(std::move(task));
      wake_.notify_all();
    };
  }
  std::thread::id threadID() const { return thread_.get_id(); }

 private:
  void run() {
    std::unique_lock guard(mutex_);
    while (true) {
      wake_.wait(guard, [&] { return done_ || !tasks_.empty(); });
      if (tasks_.empty()) return;  // done and drained
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      guard.unlock();
      task();
      guard.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool done_ = false;
  std::thread thread_;
};

// Records every handler call: its keys and whether it ran on the queue.
class Calls {
 public:
  explicit Calls(std::thread::id queue) : queue_(queue) {}
  NetworkChangeWatcher::Handler handler() {
    return [this](const std::vector<std::string>& keys) {
      std::lock_guard guard(mutex_);
      batches_.push_back(keys);
      offQueue_ += std::this_thread::get_id() != queue_;
      changed_.notify_all();
    };
  }
  // Waits for a batch holding `key` among the batches from index `from` on.
  bool waitFor(const std::string& key, std::size_t from = 0) {
    std::unique_lock guard(mutex_);
    return changed_.wait_for(guard, 5s, [&] {
      for (std::size_t i = from; i < batches_.size(); ++i) {
        if (std::ranges::count(batches_[i], key) > 0) return true;
      }
      return false;
    });
  }
  std::vector<std::vector<std::string>> batches() {
    std::lock_guard guard(mutex_);
    return batches_;
  }
  int offQueue() {
    std::lock_guard guard(mutex_);
    return offQueue_;
  }

 private:
  std::thread::id queue_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<std::string>> batches_;
  int offQueue_ = 0;
};

// A subscription driven by the test: fire() calls the callback as the
// store's thread would; destruction waits for a fire() in progress.
struct FakeStore {
  std::mutex mutex;
  dynstore::ChangeCallback callback;
  dynstore::NotificationKeys keys;
  std::string clientName;
  bool opened = false;

  struct Subscription : dynstore::StoreSubscription {
    explicit Subscription(FakeStore& store) : store(store) {}
    ~Subscription() override {
      std::lock_guard guard(store.mutex);
      store.callback = nullptr;
    }
    FakeStore& store;
  };

  NetworkChangeWatcher::Subscriber subscriber() {
    return [this](std::string_view name, dynstore::NotificationKeys k, dynstore::ChangeCallback cb) {
      std::lock_guard guard(mutex);
      clientName = std::string(name);
      keys = std::move(k);
      callback = std::move(cb);
      opened = true;
      return std::make_unique<Subscription>(*this);
    };
  }
  void fire(std::vector<std::string> changed) {
    std::lock_guard guard(mutex);
    if (callback) callback(std::move(changed));
  }
};

TEST(NetworkChangeWatcherTest, SubscribesToTheInterfaceServiceAndGlobalKeys) {
  SerialQueue queue;
  Calls calls(queue.threadID());
  FakeStore store;
  NetworkChangeWatcher watcher(queue.executor(), calls.handler(), store.subscriber());
  EXPECT_TRUE(watcher.subscribed());
  EXPECT_EQ(store.clientName, "Beaconbar");
  EXPECT_EQ(store.keys.keys, (std::vector<std::string>{"State:/Network/Interface"}));
  EXPECT_EQ(store.keys.patterns,
            (std::vector<std::string>{"State:/Network/Interface/.*", "State:/Network/Global/IPv[46]",
                                      "State:/Network/Service/.*", "Setup:/Network/Service/.*"}));
}

TEST(NetworkChangeWatcherTest, HandlerGetsEachNotificationAsIsOnTheExecutor) {
  SerialQueue queue;
  Calls calls(queue.threadID());
  FakeStore store;
  NetworkChangeWatcher watcher(queue.executor(), calls.handler(), store.subscriber());
  store.fire({"State:/Network/Global/IPv4", "State:/Network/Global/IPv4"});
  store.fire({});
  store.fire({"State:/Network/Interface"});
  ASSERT_TRUE(calls.waitFor("State:/Network/Interface"));
  EXPECT_EQ(calls.batches(), (std::vector<std::vector<std::string>>{
                                 {"State:/Network/Global/IPv4", "State:/Network/Global/IPv4"},
                                 {},
                                 {"State:/Network/Interface"}}));
  EXPECT_EQ(calls.offQueue(), 0);
}

TEST(NetworkChangeWatcherTest, WithoutASourceTheWatcherIsInert) {
  SerialQueue queue;
  std::atomic<int> called{0};
  NetworkChangeWatcher watcher(queue.executor(), [&](const auto&) { ++called; },
                               [](std::string_view, dynstore::NotificationKeys, dynstore::ChangeCallback) {
                                 return std::unique_ptr<dynstore::StoreSubscription>();
                               });
  EXPECT_FALSE(watcher.subscribed());
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(called.load(), 0);
}

// Notifications keep coming from another thread while the watcher is
// destroyed; tasks already queued run after the destructor returned.
TEST(NetworkChangeWatcherTest, NoHandlerCallAfterTheDestructorReturns) {
  for (int round = 0; round < 20; ++round) {
    SerialQueue queue;
    FakeStore store;
    std::atomic<bool> destroyed{false};
    std::atomic<int> late{0};
    std::atomic<int> calls{0};
    auto watcher = std::make_unique<NetworkChangeWatcher>(
        queue.executor(),
        [&](const auto&) {
          if (destroyed.load()) ++late;
          ++calls;
          std::this_thread::sleep_for(50us);
        },
        store.subscriber());
    std::atomic<bool> stop{false};
    std::thread events([&] {
      while (!stop.load()) store.fire({"State:/Network/Interface"});
    });
    while (calls.load() < 5) std::this_thread::yield();
    watcher.reset();
    destroyed.store(true);
    std::this_thread::sleep_for(2ms);
    stop.store(true);
    events.join();
    EXPECT_EQ(late.load(), 0) << "round " << round;
  }
}

TEST(NetworkChangeWatcherTest, AHandlerMayDestroyItsOwnWatcher) {
  SerialQueue queue;
  FakeStore store;
  std::unique_ptr<NetworkChangeWatcher> watcher;
  std::atomic<int> calls{0};
  watcher = std::make_unique<NetworkChangeWatcher>(
      queue.executor(),
      [&](const auto&) {
        ++calls;
        watcher.reset();
      },
      store.subscriber());
  store.fire({"a"});
  store.fire({"b"});  // queued before the first call ran, or dropped with the subscription
  while (calls.load() == 0) std::this_thread::yield();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(watcher, nullptr);
}

class NetworkChangeWatcherLiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: creates a network namespace";
    ASSERT_TRUE(ns_.ok());
    name_ = bcn::testing::uniqueLinkName("cw");
    ASSERT_TRUE(bcn::testing::addVethPair(name_));
    ASSERT_TRUE(runIp({"link", "set", name_, "up"}));
    ASSERT_TRUE(runIp({"link", "set", name_ + "p", "up"}));
    ASSERT_TRUE(runIp({"addr", "add", "10.79.0.2/24", "dev", name_}));
  }

  bcn::testing::ScopedNetNamespace ns_;
  bcn::testing::TempDir dir_;
  std::string name_;
  netprefs::PreferencesLocation location_ = netprefs::PreferencesLocation::inDirectory(dir_.path() / "conf");
};

TEST_F(NetworkChangeWatcherLiveTest, KernelAndPreferenceChangesArriveAsKeysOnTheExecutor) {
  SerialQueue queue;
  Calls calls(queue.threadID());
  NetworkChangeWatcher watcher(queue.executor(), calls.handler(), NetworkChangeWatcher::liveSubscriber(location_));
  ASSERT_TRUE(watcher.subscribed());

  const std::string extra = name_ + "x";
  ASSERT_TRUE(runIp({"link", "add", extra, "type", "bridge"}));
  EXPECT_TRUE(calls.waitFor("State:/Network/Interface"));
  EXPECT_TRUE(calls.waitFor("Setup:/Network/Service/" + netprefs::stableServiceID(extra) + "/Interface"));

  ASSERT_TRUE(runIp({"addr", "add", "10.79.1.2/24", "dev", name_}));
  EXPECT_TRUE(calls.waitFor("State:/Network/Interface/" + name_ + "/IPv4"));

  ASSERT_TRUE(runIp({"route", "add", "default", "via", "10.79.0.1", "dev", name_}));
  EXPECT_TRUE(calls.waitFor("State:/Network/Global/IPv4"));

  // The first commit creates the directory and the file.
  auto session = netprefs::NetworkPreferences::create("test", location_);
  const std::string id = netprefs::stableServiceID(name_);
  ASSERT_TRUE(session->setServiceEnabled(id, false));
  ASSERT_TRUE(session->commitChanges());
  EXPECT_TRUE(calls.waitFor("Setup:/Network/Service/" + id));

  const std::size_t before = calls.batches().size();
  ASSERT_TRUE(runIp({"link", "del", extra}));
  EXPECT_TRUE(calls.waitFor("State:/Network/Interface", before));
  EXPECT_TRUE(calls.waitFor("State:/Network/Interface/" + extra + "/Link", before));
  EXPECT_EQ(calls.offQueue(), 0);
}

TEST_F(NetworkChangeWatcherLiveTest, ADestroyedWatcherStaysSilent) {
  SerialQueue queue;
  Calls calls(queue.threadID());
  {
    NetworkChangeWatcher watcher(queue.executor(), calls.handler(), NetworkChangeWatcher::liveSubscriber(location_));
    ASSERT_TRUE(watcher.subscribed());
  }
  ASSERT_TRUE(runIp({"link", "add", name_ + "y", "type", "bridge"}));
  ASSERT_TRUE(runIp({"route", "add", "default", "via", "10.79.0.1", "dev", name_}));
  std::this_thread::sleep_for(700ms);
  EXPECT_TRUE(calls.batches().empty());
}

}  // namespace
}  // namespace bcn
