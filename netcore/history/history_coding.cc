#include "netcore/history/history_coding.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace bcn {
namespace {

constexpr const char* kTiersKey = "tiers";
constexpr const char* kGranularityKey = "granularity";
constexpr const char* kRetentionKey = "retention";
constexpr const char* kBucketsKey = "buckets";

void putDouble(std::uint8_t* out, double value) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  if constexpr (std::endian::native == std::endian::big) bits = std::byteswap(bits);
  std::memcpy(out, &bits, sizeof bits);
}

double getDouble(const std::uint8_t* in) {
  std::uint64_t bits;
  std::memcpy(&bits, in, sizeof bits);
  if constexpr (std::endian::native == std::endian::big) bits = std::byteswap(bits);
  return std::bit_cast<double>(bits);
}

PlatformError corrupt(const std::string& what) {
  return PlatformError::corruptData("rate history: " + what);
}

// A double stored for a byte count back to an integer, truncating toward
// zero. Values with no such integer are refused rather than clamped, so a
// damaged file is noticed instead of inventing traffic.
std::expected<std::uint64_t, PlatformError> byteCount(double value) {
  if (!std::isfinite(value) || value <= -1 || value >= 0x1p64) {
    return std::unexpected(corrupt("byte count out of range"));
  }
  return static_cast<std::uint64_t>(value);
}

std::expected<double, PlatformError> readReal(const PlistDictionary& dict, const char* key) {
  const PlistValue* value = dict.find(key);
  if (value == nullptr) return std::unexpected(corrupt(std::string("missing \"") + key + "\""));
  if (auto real = value->real()) return *real;
  if (auto n = value->int64()) return static_cast<double>(*n);
  if (auto n = value->uint64()) return static_cast<double>(*n);
  return std::unexpected(corrupt(std::string("\"") + key + "\" is not a number"));
}

}  // namespace

PlistValue encodeHistoryTier(const RateHistory::Tier& tier) {
  PlistData packed(tier.buckets.size() * kEncodedBucketSize);
  std::uint8_t* out = packed.data();
  for (const auto& b : tier.buckets) {
    const double fields[8] = {b.start,
                              b.seconds,
                              static_cast<double>(b.bytesIn),
                              static_cast<double>(b.bytesOut),
                              b.minIn,
                              b.maxIn,
                              b.minOut,
                              b.maxOut};
    for (double field : fields) {
      putDouble(out, field);
      out += sizeof(double);
    }
  }
  // Built from moved entries: an initializer list would copy the block.
  std::vector<PlistDictionary::Entry> entries;
  entries.reserve(3);
  entries.emplace_back(kGranularityKey, tier.granularity);
  entries.emplace_back(kRetentionKey, tier.retention);
  entries.emplace_back(kBucketsKey, std::move(packed));
  return PlistDictionary::fromEntries(std::move(entries));
}

std::expected<RateHistory::Tier, PlatformError> decodeHistoryTier(const PlistValue& value) {
  const PlistDictionary* dict = value.dictionary();
  if (dict == nullptr) return std::unexpected(corrupt("tier is not a dictionary"));
  auto granularity = readReal(*dict, kGranularityKey);
  if (!granularity) return std::unexpected(granularity.error());
  auto retention = readReal(*dict, kRetentionKey);
  if (!retention) return std::unexpected(retention.error());
  const PlistValue* bucketsValue = dict->find(kBucketsKey);
  if (bucketsValue == nullptr) return std::unexpected(corrupt("missing \"buckets\""));
  const PlistData* packed = bucketsValue->data();
  if (packed == nullptr) return std::unexpected(corrupt("\"buckets\" is not data"));

  RateHistory::Tier tier{*granularity, *retention, {}};
  const std::size_t count = packed->size() / kEncodedBucketSize;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* in = packed->data() + i * kEncodedBucketSize;
    double f[8];
    for (double& field : f) {
      field = getDouble(in);
      in += sizeof(double);
    }
    auto bytesIn = byteCount(f[2]);
    if (!bytesIn) return std::unexpected(bytesIn.error());
    auto bytesOut = byteCount(f[3]);
    if (!bytesOut) return std::unexpected(bytesOut.error());
    tier.buckets.push_back({f[0], f[1], *bytesIn, *bytesOut, f[4], f[5], f[6], f[7]});
  }
  return tier;
}

PlistValue encodeRateHistory(const RateHistory& history) {
  PlistArray tiers;
  tiers.reserve(history.tiers.size());
  for (const auto& tier : history.tiers) tiers.push_back(encodeHistoryTier(tier));
  std::vector<PlistDictionary::Entry> entries;
  entries.emplace_back(kTiersKey, std::move(tiers));
  return PlistDictionary::fromEntries(std::move(entries));
}

std::expected<RateHistory, PlatformError> decodeRateHistory(const PlistValue& value) {
  const PlistDictionary* dict = value.dictionary();
  if (dict == nullptr) return std::unexpected(corrupt("history is not a dictionary"));
  const PlistValue* tiersValue = dict->find(kTiersKey);
  if (tiersValue == nullptr) return std::unexpected(corrupt("missing \"tiers\""));
  const PlistArray* tiers = tiersValue->array();
  if (tiers == nullptr) return std::unexpected(corrupt("\"tiers\" is not an array"));

  RateHistory history;
  history.tiers.reserve(tiers->size());
  for (const PlistValue& tierValue : *tiers) {
    auto tier = decodeHistoryTier(tierValue);
    if (!tier) return std::unexpected(tier.error());
    history.tiers.push_back(std::move(*tier));
  }
  return history;
}

}  // namespace bcn
