#include "platform/utf8.h"

namespace bcn::utf8 {

std::size_t sequenceAt(std::span<const std::uint8_t> bytes, std::size_t i, std::size_t& consumed) {
  const std::uint8_t lead = bytes[i];
  consumed = 1;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= bytes.size()) return 0;
    const std::uint8_t b = bytes[i + k];
    const std::uint8_t lo = k == 1 ? low : 0x80;
    const std::uint8_t hi = k == 1 ? high : 0xBF;
    if (b < lo || b > hi) return 0;
    consumed = k + 1;
  }
  return length;
}

bool isValid(std::string_view text) {
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t consumed = 1;
    const std::size_t length = sequenceAt(bytes, i, consumed);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace bcn::utf8
