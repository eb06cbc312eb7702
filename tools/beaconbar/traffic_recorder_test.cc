#include "tools/beaconbar/traffic_recorder.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "tools/beaconbar/history_file.h"
#include "tools/beaconbar/testing/model_fixtures.h"

namespace bcn::cli {
namespace {

InterfaceSnapshot reading(const std::string& name, std::uint64_t in, std::uint64_t out) {
  InterfaceSnapshot s;
  s.name = name;
  s.counters.bytesIn = in;
  s.counters.bytesOut = out;
  return s;
}

constexpr double kStart = 1000;

TEST(TrafficRecorderTest, ReadingsBecomeSamplesInEachInterfacesHistory) {
  TrafficRecorder recorder({}, kHistoryRetention, 5, Date{kStart});
  recorder.record({reading("en0", 1000, 500), reading("lo", 0, 0)}, Date{kStart});
  EXPECT_TRUE(recorder.histories().empty());
  auto rows = recorder.rows({}, Date{kStart});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_FALSE(rows[0].current);

  recorder.record({reading("en0", 6000, 500), reading("lo", 0, 0)}, Date{kStart + 2});
  rows = recorder.rows({}, Date{kStart + 2});
  ASSERT_TRUE(rows[0].current);
  EXPECT_EQ(rows[0].current->bytesIn, 5000u);
  EXPECT_DOUBLE_EQ(rows[0].current->rateIn(), 2500);
  EXPECT_EQ(rows[0].lastMinute.bytesIn, 5000u);
  EXPECT_EQ(recorder.histories().at("en0").recentSamples(10).size(), 1u);
  // An idle interface still gets samples; the file leaves it out later.
  EXPECT_EQ(recorder.histories().count("lo"), 1u);
}

TEST(TrafficRecorderTest, AVanishedInterfaceStartsAgainFromANewBaseline) {
  TrafficRecorder recorder({}, kHistoryRetention, 5, Date{kStart});
  recorder.record({reading("usb0", 9000, 9000)}, Date{kStart});
  recorder.record({}, Date{kStart + 1});
  auto rows = recorder.rows({"usb0"}, Date{kStart + 1});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows[0].present);
  // Re-created with higher counters one second later: had the baseline
  // survived, this would count 1000 bytes that never crossed this interface.
  recorder.record({reading("usb0", 10000, 10000)}, Date{kStart + 2});
  EXPECT_FALSE(recorder.rows({"usb0"}, Date{kStart + 2})[0].current);
  EXPECT_EQ(recorder.histories().count("usb0"), 0u);
  recorder.record({reading("usb0", 10100, 10000)}, Date{kStart + 3});
  EXPECT_EQ(recorder.rows({"usb0"}, Date{kStart + 3})[0].current->bytesIn, 100u);
}

TEST(TrafficRecorderTest, GapsLongerThanTheLimitAddNothing) {
  TrafficRecorder recorder({}, kHistoryRetention, 5, Date{kStart});
  recorder.record({reading("en0", 0, 0)}, Date{kStart});
  recorder.record({reading("en0", 1'000'000, 0)}, Date{kStart + 60});  // machine was asleep
  EXPECT_TRUE(recorder.histories().empty());
  recorder.record({reading("en0", 1'000'100, 0)}, Date{kStart + 61});
  EXPECT_EQ(recorder.histories().at("en0").aggregate(3600, Date{kStart + 61}).bytesIn, 100u);
}

TEST(TrafficRecorderTest, LoadedHistoriesTakeTheRetentionAndArePruned) {
  HistoryMap loaded;
  loaded["en0"] = testing::historyWithSample(kStart - 700);  // older than the raw tier keeps
  RateHistory foreign;
  foreign.tiers.resize(1);
  foreign.tiers[0].buckets.push_back(HistoryBucket::ofSample(kStart - 10, RateSample{Date{kStart - 10}, 10, 1, 1}));
  loaded["en1"] = foreign;

  TrafficRecorder recorder(std::move(loaded), kHistoryRetention, 5, Date{kStart});
  const RateHistory& en0 = recorder.histories().at("en0");
  ASSERT_EQ(en0.tiers.size(), 3u);
  EXPECT_TRUE(en0.tiers[0].buckets.empty());
  EXPECT_EQ(en0.tiers[1].buckets.size(), 1u);
  EXPECT_EQ(en0.tiers[2].retention, kHistoryRetention.hour);
  // A history of another shape starts over in the tool's shape.
  EXPECT_EQ(recorder.histories().at("en1"), RateHistory(kHistoryRetention));
}

TEST(TrafficRecorderTest, ALongWatchOverAFileOfImpossibleTierShapesStaysBounded) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  // Each of these made every reading open a bucket that was never dropped.
  for (const std::array<double, 3>& granularity : {std::array<double, 3>{0, kNaN, 3600},
                                                   {0, 0, 3600},
                                                   {0, 60, -3600},
                                                   {0, 60, std::numeric_limits<double>::infinity()},
                                                   {kNaN, 60, 3600}}) {
    RateHistory stored(kHistoryRetention);
    for (std::size_t i = 0; i < 3; ++i) stored.tiers[i].granularity = granularity[i];
    stored.add(RateSample{Date{kStart - 1}, 1, 100, 0});
    auto bytes = encodeHistoryFile({{"en0", stored}});
    ASSERT_TRUE(bytes);
    auto loaded = decodeHistoryFile(*bytes);
    ASSERT_TRUE(loaded);

    TrafficRecorder recorder(std::move(*loaded), kHistoryRetention, 5, Date{kStart});
    // Three hours of readings a second apart, pruned as `watch` prunes.
    constexpr int kReadings = 3 * 3600;
    for (int i = 0; i <= kReadings; ++i) {
      const Date now{kStart + i};
      recorder.record({reading("en0", 1000 * static_cast<std::uint64_t>(i), 0)}, now);
      recorder.prune(now);
    }
    const RateHistory& en0 = recorder.histories().at("en0");
    const std::string what = ::testing::PrintToString(granularity);
    ASSERT_EQ(en0.tiers.size(), 3u) << what;
    // Ten minutes of samples, three hours of minutes, four clock hours, and
    // at most one bucket kept from the file in each (a negative granularity
    // still lands on interval edges).
    EXPECT_LE(en0.tiers[0].buckets.size(), 601u) << what;
    EXPECT_LE(en0.tiers[1].buckets.size(), 183u) << what;
    EXPECT_LE(en0.tiers[2].buckets.size(), 5u) << what;
    // And the last hour adds up to what crossed the interface in it, short
    // of the minute that straddles its start.
    const auto lastHour = en0.aggregate(3600, Date{kStart + kReadings}).bytesIn;
    EXPECT_GE(lastHour, 3540u * 1000) << what;
    EXPECT_LE(lastHour, 3600u * 1000) << what;
  }
}

TEST(TrafficRecorderTest, RowsFollowTheRequestedNamesAndOrder) {
  TrafficRecorder recorder({{"en0", testing::historyWithSample(kStart - 5)}}, kHistoryRetention, 5, Date{kStart});
  recorder.record({reading("lo", 0, 0), reading("en0", 0, 0)}, Date{kStart});
  const auto rows = recorder.rows({"en0", "lo", "ppp0"}, Date{kStart});
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, "en0");
  EXPECT_EQ(rows[0].lastMinute.bytesIn, 5000u);
  EXPECT_EQ(rows[0].lastHour.bytesIn, 5000u);
  EXPECT_TRUE(rows[1].present);
  EXPECT_FALSE(rows[2].present);
}

}  // namespace
}  // namespace bcn::cli
