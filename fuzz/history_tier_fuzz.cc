// One coded tier with every number under the fuzzer's control: the first
// 16 bytes are the granularity and retention (little-endian doubles), the
// rest is the packed bucket data. Decoding must accept or refuse without
// undefined behaviour; an accepted tier must re-encode to itself (less any
// trailing partial bucket and the fractions of byte counts) and be usable
// as any tier of a history.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/history_exercise.h"
#include "fuzz/plist_identity.h"
#include "netcore/history/history_coding.h"

namespace {

double doubleAt(const std::uint8_t* in) {
  std::uint64_t bits;
  std::memcpy(&bits, in, sizeof bits);
  if constexpr (std::endian::native == std::endian::big) bits = std::byteswap(bits);
  return std::bit_cast<double>(bits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 16) return 0;
  std::vector<bcn::PlistDictionary::Entry> entries;
  entries.emplace_back("granularity", doubleAt(data));
  entries.emplace_back("retention", doubleAt(data + 8));
  entries.emplace_back("buckets", bcn::PlistData(data + 16, data + size));
  auto tier = bcn::decodeHistoryTier(bcn::PlistDictionary::fromEntries(std::move(entries)));
  if (!tier) return 0;
  if ((size - 16) / bcn::kEncodedBucketSize != tier->buckets.size()) std::abort();

  const bcn::PlistValue coded = bcn::encodeHistoryTier(*tier);
  auto again = bcn::decodeHistoryTier(coded);
  if (!again || !bcn::fuzzing::identical(bcn::encodeHistoryTier(*again), coded)) std::abort();

  // The same tier in each position of a three-tier history, and alone.
  for (std::size_t position = 0; position < 3; ++position) {
    bcn::RateHistory history({600, 86'400, 2'592'000});
    history.tiers[position] = *tier;
    bcn::fuzzing::exerciseHistory(history);
  }
  bcn::RateHistory alone;
  alone.tiers.push_back(std::move(*tier));
  bcn::fuzzing::exerciseHistory(alone);
  return 0;
}
