#include "netcore/c_string.h"

#include <algorithm>
#include <cstring>

#include "platform/utf8.h"

namespace bcn {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string decodeCString(std::span<const std::uint8_t> buffer) {
  const void* zero = buffer.empty() ? nullptr : std::memchr(buffer.data(), 0, buffer.size());
  const std::size_t end =
      zero == nullptr ? buffer.size() : static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - buffer.data());
  const auto bytes = buffer.first(end);
  // Nearly every kernel text is ASCII, which is valid UTF-8 as it stands.
  if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; })) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }

  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t consumed = 1;
    if (const std::size_t length = utf8::sequenceAt(bytes, i, consumed)) {
      text.append(reinterpret_cast<const char*>(bytes.data() + i), length);
      i += length;
    } else {
      text += kReplacement;
      i += consumed;
    }
  }
  return text;
}

std::string decodeCString(std::span<const char> buffer) {
  return decodeCString(
      std::span(reinterpret_cast<const std::uint8_t*>(buffer.data()), buffer.size()));
}

}  // namespace bcn
