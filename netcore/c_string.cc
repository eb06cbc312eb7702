#include "netcore/c_string.h"

#include "platform/utf8.h"

namespace bcn {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string decodeCString(std::span<const std::uint8_t> buffer) {
  std::size_t end = 0;
  while (end < buffer.size() && buffer[end] != 0) ++end;
  const auto bytes = buffer.first(end);

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
