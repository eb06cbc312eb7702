#include "netcore/history/rate_sample.h"

#include "netcore/history/hash_mix.h"

using bcn::history_internal::hashMix;

std::size_t std::hash<bcn::RateSample>::operator()(const bcn::RateSample& s) const noexcept {
  std::size_t h = std::hash<bcn::Date>{}(s.end);
  h = hashMix(h, std::hash<double>{}(s.duration));
  h = hashMix(h, std::hash<std::uint64_t>{}(s.bytesIn));
  return hashMix(h, std::hash<std::uint64_t>{}(s.bytesOut));
}
