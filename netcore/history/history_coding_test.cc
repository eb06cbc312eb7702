#include "netcore/history/history_coding.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "netcore/history/testing/non_finite.h"

namespace bcn {
namespace {

using testing::kInf;
using testing::kNaN;

// Eight little-endian doubles, as another program would write them.
void appendBucket(PlistData& out, std::initializer_list<double> fields) {
  for (double f : fields) {
    const auto bits = std::bit_cast<std::uint64_t>(f);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  }
}

PlistValue tierValue(PlistData buckets, PlistValue granularity = 60.0) {
  return PlistDictionary{{"granularity", granularity}, {"retention", 900.0}, {"buckets", buckets}};
}

TEST(HistoryCodingTest, BucketsArePackedAsEightLittleEndianDoubles) {
  RateHistory::Tier tier{60, 900, {{120, 6, 1400, 10, 100, 500, 0, 5}}};
  const PlistValue coded = encodeHistoryTier(tier);
  const PlistDictionary* dict = coded.dictionary();
  ASSERT_NE(dict, nullptr);
  EXPECT_EQ(dict->find("granularity")->real(), 60.0);
  EXPECT_EQ(dict->find("retention")->real(), 900.0);
  PlistData expected;
  appendBucket(expected, {120, 6, 1400, 10, 100, 500, 0, 5});
  EXPECT_EQ(*dict->find("buckets")->data(), expected);

  const PlistValue empty = encodeHistoryTier({0, 600, {}});
  ASSERT_NE(empty.dictionary()->find("buckets")->data(), nullptr);
  EXPECT_TRUE(empty.dictionary()->find("buckets")->data()->empty());
}

TEST(HistoryCodingTest, TrailingBytesThatDoNotFillABucketAreIgnored) {
  PlistData bytes;
  appendBucket(bytes, {60, 1, 2, 3, 4, 5, 6, 7});
  bytes.resize(70, 0xAB);
  auto tier = decodeHistoryTier(tierValue(bytes));
  ASSERT_TRUE(tier.has_value());
  ASSERT_EQ(tier->buckets.size(), 1u);
  EXPECT_EQ(tier->buckets[0], (RateHistory::Bucket{60, 1, 2, 3, 4, 5, 6, 7}));

  bytes.resize(63);
  tier = decodeHistoryTier(tierValue(bytes));
  ASSERT_TRUE(tier.has_value());
  EXPECT_TRUE(tier->buckets.empty());
}

TEST(HistoryCodingTest, ByteCountsTruncateTowardZeroWithinRange) {
  PlistData bytes;
  appendBucket(bytes, {0, 1, 2.9, -0.5, 0, 0, 0, 0});
  appendBucket(bytes, {0, 1, 0x1p64 - 2048, 0x1p53, 0, 0, 0, 0});
  auto tier = decodeHistoryTier(tierValue(bytes));
  ASSERT_TRUE(tier.has_value());
  EXPECT_EQ(tier->buckets[0].bytesIn, 2u);
  EXPECT_EQ(tier->buckets[0].bytesOut, 0u);
  EXPECT_EQ(tier->buckets[1].bytesIn, 0xFFFFFFFFFFFFF800u);
  EXPECT_EQ(tier->buckets[1].bytesOut, 1ull << 53);
}

TEST(HistoryCodingTest, UnrepresentableByteCountsAreDecodingErrors) {
  for (double bad : {-1.0, -1e300, 0x1p64, 1e300, kInf, -kInf, kNaN}) {
    for (int field : {2, 3}) {
      double fields[8] = {0, 1, 5, 5, 0, 0, 0, 0};
      fields[field] = bad;
      PlistData bytes;
      appendBucket(bytes, {fields[0], fields[1], fields[2], fields[3], 0, 0, 0, 0});
      auto tier = decodeHistoryTier(tierValue(bytes));
      ASSERT_FALSE(tier.has_value()) << bad << " in field " << field;
      EXPECT_EQ(tier.error().code, 3840);
    }
  }
}

TEST(HistoryCodingTest, RatesAndTimesAreTakenAsStored) {
  PlistData bytes;
  appendBucket(bytes, {kNaN, -5, 1, 1, kInf, kNaN, -kInf, 0});
  auto tier = decodeHistoryTier(tierValue(bytes, kNaN));
  ASSERT_TRUE(tier.has_value());
  EXPECT_TRUE(std::isnan(tier->granularity));
  EXPECT_TRUE(std::isnan(tier->buckets[0].start));
  EXPECT_EQ(tier->buckets[0].seconds, -5);
  EXPECT_EQ(tier->buckets[0].minIn, kInf);
}

TEST(HistoryCodingTest, MissingKeysAndWrongKindsAreDecodingErrors) {
  const PlistData none;
  const PlistValue bad[] = {
      PlistValue("tier"),
      PlistDictionary{{"retention", 1.0}, {"buckets", none}},
      PlistDictionary{{"granularity", 1.0}, {"buckets", none}},
      PlistDictionary{{"granularity", 1.0}, {"retention", 1.0}},
      PlistDictionary{{"granularity", "60"}, {"retention", 1.0}, {"buckets", none}},
      PlistDictionary{{"granularity", 1.0}, {"retention", true}, {"buckets", none}},
      PlistDictionary{{"granularity", 1.0}, {"retention", 1.0}, {"buckets", PlistArray{}}},
      PlistDictionary{{"granularity", 1.0}, {"retention", 1.0}, {"buckets", "bytes"}},
  };
  for (const auto& value : bad) EXPECT_FALSE(decodeHistoryTier(value).has_value());

  for (const PlistValue& history :
       {PlistValue(PlistArray{}), PlistValue(PlistDictionary{}),
        PlistValue(PlistDictionary{{"tiers", PlistDictionary{}}}),
        PlistValue(PlistDictionary{{"tiers", PlistArray{tierValue({}), PlistValue(1)}}})}) {
    EXPECT_FALSE(decodeRateHistory(history).has_value());
  }
}

TEST(HistoryCodingTest, IntegerNumbersAndUnknownKeysAreAccepted) {
  PlistValue value = PlistDictionary{
      {"granularity", 3600}, {"retention", 86400}, {"buckets", PlistData{}}, {"note", "x"}};
  auto tier = decodeHistoryTier(value);
  ASSERT_TRUE(tier.has_value());
  EXPECT_EQ(tier->granularity, 3600);
  EXPECT_EQ(tier->retention, 86400);
}

TEST(HistoryCodingTest, HistoryRoundTripsWithAnyTierCount) {
  RateHistory h({600, 86400, 2592000});
  h.add({Date{120.5}, 2, 1ull << 53, 12345});
  h.add({Date{3600}, 0.25, 0, 7});
  auto back = decodeRateHistory(encodeRateHistory(h));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, h);

  RateHistory odd;
  odd.tiers.push_back({5, 10, {{1, 2, 3, 4, 5, 6, 7, 8}}});
  back = decodeRateHistory(encodeRateHistory(odd));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, odd);
  back = decodeRateHistory(encodeRateHistory(RateHistory()));
  ASSERT_TRUE(back.has_value());
  EXPECT_TRUE(back->tiers.empty());
}

}  // namespace
}  // namespace bcn
