#include "tools/beaconbar/units.h"

#include <gtest/gtest.h>

#include <limits>

namespace bcn::cli {
namespace {

TEST(UnitsTest, BytesUseBinaryPrefixesWithThreeSignificantDigits) {
  EXPECT_EQ(formatBytes(0), "0 B");
  EXPECT_EQ(formatBytes(1023), "1023 B");
  EXPECT_EQ(formatBytes(1024), "1.00 KiB");
  EXPECT_EQ(formatBytes(1239), "1.21 KiB");
  EXPECT_EQ(formatBytes(12.1 * 1024 * 1024), "12.1 MiB");
  EXPECT_EQ(formatBytes(121.0 * 1024 * 1024 * 1024), "121 GiB");
  // Just under the next prefix must not read "1024 KiB".
  EXPECT_EQ(formatBytes(1024.0 * 1024 - 1), "1.00 MiB");
  EXPECT_EQ(formatBytes(18446744073709551615.0), "16.0 EiB");
}

TEST(UnitsTest, ValuesThatAreNotAmountsReadAsDash) {
  EXPECT_EQ(formatRate(std::numeric_limits<double>::infinity()), "-");
  EXPECT_EQ(formatRate(std::numeric_limits<double>::quiet_NaN()), "-");
  EXPECT_EQ(formatRate(-1), "-");
  EXPECT_EQ(formatCompactRate(std::numeric_limits<double>::quiet_NaN()), "-");
  EXPECT_EQ(formatTimestamp(Date{std::numeric_limits<double>::infinity()}), "-");
  EXPECT_EQ(formatTimestamp(Date{1e300}), "-");
}

TEST(UnitsTest, RatesAndCompactRates) {
  EXPECT_EQ(formatRate(312), "312 B/s");
  EXPECT_EQ(formatRate(1239), "1.21 KiB/s");
  EXPECT_EQ(formatCompactRate(0), "0");
  EXPECT_EQ(formatCompactRate(999.4), "999");
  EXPECT_EQ(formatCompactRate(1239), "1.2K");
  EXPECT_EQ(formatCompactRate(12.4 * 1024), "12K");
  EXPECT_EQ(formatCompactRate(121.0 * 1024 * 1024), "121M");
  // The widest compact form still fits the five columns the tables allow.
  EXPECT_LE(formatCompactRate(1023.4 * 1024).size(), 5u);
}

TEST(UnitsTest, LineSpeedsUseDecimalPrefixes) {
  EXPECT_EQ(formatLineSpeed(10'000'000), "10 Mbps");
  EXPECT_EQ(formatLineSpeed(2'500'000'000), "2.5 Gbps");
  EXPECT_EQ(formatLineSpeed(100'000'000'000), "100 Gbps");
  EXPECT_EQ(formatLineSpeed(999), "999 bps");
}

TEST(UnitsTest, TimestampsAreUtc) {
  // 2001-01-01 00:00:00 UTC is the reference instant.
  EXPECT_EQ(formatTimestamp(Date{0}), "2001-01-01 00:00:00Z");
  EXPECT_EQ(formatIsoTimestamp(Date{86400 + 3.25}), "2001-01-02T00:00:03.250Z");
  // Rounding the milliseconds up carries into the seconds.
  EXPECT_EQ(formatIsoTimestamp(Date{59.9996}), "2001-01-01T00:01:00.000Z");
}

}  // namespace
}  // namespace bcn::cli
