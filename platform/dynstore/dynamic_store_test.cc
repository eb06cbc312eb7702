#include "platform/dynstore/dynamic_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "platform/dynstore/store_notifier.h"
#include "platform/netprefs/default_preferences.h"
#include "platform/netprefs/testing/net_namespace.h"
#include "platform/testing/test_support.h"

namespace bcn::dynstore {
namespace {

using bcn::testing::runIp;

// Collects notification batches and lets the test wait for a key.
class Recorder {
 public:
  void add(std::vector<std::string> keys) {
    std::lock_guard guard(mutex_);
    batches_.push_back(std::move(keys));
    changed_.notify_all();
  }
  bool waitFor(const std::string& key, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock guard(mutex_);
    return changed_.wait_for(guard, limit, [&] {
      return std::ranges::any_of(batches_, [&](const auto& b) { return std::ranges::count(b, key) > 0; });
    });
  }
  std::size_t batches() {
    std::lock_guard guard(mutex_);
    return batches_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<std::string>> batches_;
};

class LiveDynamicStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bcn::testing::runningAsRoot()) GTEST_SKIP() << "needs root: creates a network namespace";
    ASSERT_TRUE(ns_.ok());
    name_ = bcn::testing::uniqueLinkName("ds");
    ASSERT_TRUE(bcn::testing::addVethPair(name_));
    ASSERT_TRUE(runIp({"link", "set", name_, "up"}));
    ASSERT_TRUE(runIp({"link", "set", name_ + "p", "up"}));
    ASSERT_TRUE(runIp({"addr", "add", "10.77.0.2/24", "dev", name_}));
    ASSERT_TRUE(runIp({"route", "add", "default", "via", "10.77.0.1", "dev", name_}));
  }

  bcn::testing::ScopedNetNamespace ns_;
  bcn::testing::TempDir dir_;
  std::string name_;
  netprefs::PreferencesLocation location_ = netprefs::PreferencesLocation::inDirectory(dir_.path());
};

TEST_F(LiveDynamicStoreTest, ReadsTheNamespacesLinksRoutesAndDefaultServices) {
  auto store = openDynamicStore("test", location_);
  ASSERT_NE(store, nullptr);
  const auto global = store->copyValue("State:/Network/Global/IPv4");
  ASSERT_TRUE(global && global->dictionary());
  EXPECT_EQ(*global->dictionary()->find("PrimaryInterface"), PlistValue(name_));
  EXPECT_EQ(*global->dictionary()->find("Router"), PlistValue("10.77.0.1"));
  EXPECT_FALSE(store->copyValue("State:/Network/Global/IPv6").has_value());

  const auto setups = store->copyMultiple({}, {"Setup:/Network/Service/[^/]+/Interface"});
  ASSERT_TRUE(setups.has_value());
  EXPECT_EQ(setups->size(), 2u);
  const PlistValue* mine = setups->find("Setup:/Network/Service/" + netprefs::stableServiceID(name_) + "/Interface");
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(*mine->dictionary()->find("DeviceName"), PlistValue(name_));
}

TEST_F(LiveDynamicStoreTest, SubscriptionReportsSelectedKeysThatChanged) {
  Recorder recorder;
  auto subscription = subscribe("test", location_,
                                {{"State:/Network/Interface"}, {"State:/Network/Global/IPv[46]"}},
                                [&](std::vector<std::string> keys) { recorder.add(std::move(keys)); });
  ASSERT_NE(subscription, nullptr);
  ASSERT_TRUE(runIp({"route", "replace", "default", "via", "10.77.0.9", "dev", name_}));
  EXPECT_TRUE(recorder.waitFor("State:/Network/Global/IPv4"));
  ASSERT_TRUE(bcn::testing::addVethPair(name_ + "b"));
  EXPECT_TRUE(recorder.waitFor("State:/Network/Interface"));
  subscription.reset();
  const std::size_t seen = recorder.batches();
  ASSERT_TRUE(runIp({"link", "del", name_ + "b"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(recorder.batches(), seen);
}

TEST_F(LiveDynamicStoreTest, ACallbackMayEndItsOwnSubscription) {
  Recorder recorder;
  std::unique_ptr<StoreSubscription> subscription;
  std::mutex mutex;
  {
    std::lock_guard guard(mutex);
    subscription = subscribe("test", location_, {{"State:/Network/Interface"}, {}},
                             [&](std::vector<std::string> keys) {
                               std::lock_guard inner(mutex);
                               subscription.reset();
                               recorder.add(std::move(keys));
                             });
  }
  ASSERT_TRUE(bcn::testing::addVethPair(name_ + "c"));
  EXPECT_TRUE(recorder.waitFor("State:/Network/Interface"));
  ASSERT_TRUE(runIp({"link", "del", name_ + "c"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(recorder.batches(), 1u);
}

}  // namespace
}  // namespace bcn::dynstore
