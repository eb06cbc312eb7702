// Property-list decoding, binary and XML: every byte string gives a value
// or an error. A value that decodes must encode in both formats (files are
// read, changed and written back), and a round trip through either format
// must be a fixed point: what it gives back survives the next round trip
// bit for bit. (The first trip may round dates: to microseconds in binary,
// to whole seconds in XML.)
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <span>

#include "fuzz/plist_identity.h"
#include "platform/plist.h"

namespace {

template <typename Encode>
void checkRoundTrip(const bcn::PlistValue& value, Encode encode) {
  auto first = encode(value);
  if (!first) std::abort();
  auto once = bcn::decodePlist(*first);
  if (!once) std::abort();
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
  checkRoundTrip(*value, [](const bcn::PlistValue& v) { return bcn::encodeBinaryPlist(v); });
  checkRoundTrip(*value, [](const bcn::PlistValue& v) { return bcn::encodeXmlPlist(v); });
  return 0;
}
