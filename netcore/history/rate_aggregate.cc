#include "netcore/history/rate_aggregate.h"

#include "netcore/history/hash_mix.h"

using bcn::history_internal::hashMix;

std::size_t std::hash<bcn::RateAggregate>::operator()(const bcn::RateAggregate& a) const noexcept {
  std::hash<double> real;
  std::hash<std::uint64_t> count;
  std::size_t h = real(a.seconds);
  h = hashMix(h, count(a.bytesIn));
  h = hashMix(h, count(a.bytesOut));
  h = hashMix(h, real(a.minIn));
  h = hashMix(h, real(a.maxIn));
  h = hashMix(h, real(a.minOut));
  return hashMix(h, real(a.maxOut));
}
