// Property-list decoding, binary and XML: every byte string gives a value
// or an error. A value that decodes must encode in both formats (files are
// read, changed and written back), and a round trip through either format
// must be a fixed point: what it gives back survives the next round trip
// bit for bit. A binary trip gives back the decoded value itself (decoding
// already keeps dates at the microseconds binary holds); XML's first trip
// may round dates to whole seconds.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <span>

#include "fuzz/plist_identity.h"
#include "platform/plist.h"

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
  auto value = bcn::decodePlist(std::span<const std::uint8_t>(data, size));
  if (!value) return 0;
  (void)std::hash<bcn::PlistValue>{}(*value);
  checkRoundTrip(
      *value, [](const bcn::PlistValue& v) { return bcn::encodeBinaryPlist(v); }, true);
  checkRoundTrip(
      *value, [](const bcn::PlistValue& v) { return bcn::encodeXmlPlist(v); }, false);
  return 0;
}
