// Property-list decoding, binary and XML: every byte string gives a value
// or an error. A value that decodes must encode in both formats (files are
// read, changed and written back), and a round trip through either format
// must be a fixed point: what it gives back survives the next round trip
// bit for bit. A binary trip gives back the decoded value itself (decoding
// already keeps dates at the microseconds binary holds); XML's first trip
// may round dates to whole seconds.
//
// Decoded within a budget of 64K nodes and 256 KiB of text rather than the
// files' million nodes and megabytes: the budget's own accounting runs the
// same way at any size, and an input that expands to the files' limits costs
// seconds per run under the sanitizers, so the fuzzer would spend its time
// on a few such inputs and explore little.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <span>

#include "fuzz/plist_identity.h"
#include "platform/plist.h"
#include "platform/plist_budget.h"

namespace {

template <typename Encode>
void checkRoundTrip(const bcn::PlistValue& value, Encode encode, bool exactFirstTrip) {
  auto first = encode(value);
  if (!first) std::abort();
  auto once = bcn::decodePlist(*first);
  if (!once) std::abort();
  if (exactFirstTrip && !bcn::fuzzing::identical(value, *once)) std::abort();
  auto second = encode(*once);
  if (!second) std::abort();
  auto twice = bcn::decodePlist(*second);
  if (!twice || !bcn::fuzzing::identical(*once, *twice)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bcn::PlistBudget kBudget{.maxNodes = 64 * 1024, .maxExpandedBytes = 256 * 1024};
  auto value = bcn::decodePlistWithin(std::span<const std::uint8_t>(data, size), kBudget);
  if (!value) return 0;
  (void)std::hash<bcn::PlistValue>{}(*value);
  checkRoundTrip(
      *value, [](const bcn::PlistValue& v) { return bcn::encodeBinaryPlist(v); }, true);
  checkRoundTrip(
      *value, [](const bcn::PlistValue& v) { return bcn::encodeXmlPlist(v); }, false);
  return 0;
}
