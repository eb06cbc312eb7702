#include "netcore/publicip/address_extraction.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

namespace bcn::PublicIPService {
namespace {

// The code points with the Unicode White_Space property: the characters
// that count as white space or line breaks when a text is trimmed.
bool isUnicodeWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// Length of the well-formed UTF-8 sequence starting at `text[pos]` and its
// code point; nothing when the bytes there are not well-formed. Only the
// code points above matter, so ill-formed bytes simply stop the trimming,
// as the replacement character they decode to would.
std::optional<std::pair<std::size_t, char32_t>> decodeAt(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return std::pair<std::size_t, char32_t>{1, lead};
  std::size_t length = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F;
  } else {
    return std::nullopt;  // four-byte forms hold no white space
  }
  if (pos + length > text.size()) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (byte(pos + i) & 0x3F);
  }
  if ((length == 2 && c < 0x80) || (length == 3 && c < 0x800)) return std::nullopt;
  return std::pair<std::size_t, char32_t>{length, c};
}

std::string_view trimWhiteSpace(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const auto decoded = decodeAt(text, begin);
    if (!decoded || !isUnicodeWhiteSpace(decoded->second)) break;
    begin += decoded->first;
  }
  std::size_t end = text.size();
  while (end > begin) {
    // Step back to the start of the last character (at most three bytes).
    std::size_t start = end - 1;
    while (start > begin && end - start < 3 &&
           (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    const auto decoded = decodeAt(text, start);
    if (!decoded || start + decoded->first != end || !isUnicodeWhiteSpace(decoded->second)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::optional<std::string> addressIn(const nlohmann::json* value) {
  if (value == nullptr || !value->is_string()) return std::nullopt;
  const auto& text = value->get_ref<const std::string&>();
  if (!isIPAddress(text)) return std::nullopt;
  return text;
}

const nlohmann::json* member(const nlohmann::json* value, const std::string& key) {
  if (value == nullptr || !value->is_object()) return nullptr;
  const auto it = value->find(key);
  return it == value->end() ? nullptr : &*it;
}

}  // namespace

bool isIPAddress(std::string_view text) {
  if (text.size() > INET6_ADDRSTRLEN || text.find('\0') != std::string_view::npos) return false;
  const std::string terminated(text);
  std::array<unsigned char, sizeof(in6_addr)> scratch{};
  return ::inet_pton(AF_INET, terminated.c_str(), scratch.data()) == 1 ||
         ::inet_pton(AF_INET6, terminated.c_str(), scratch.data()) == 1;
}

std::optional<std::string> extractAddress(std::span<const std::uint8_t> body,
                                          std::optional<std::string_view> jsonKeyPath) {
  const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
  if (const std::string_view trimmed = trimWhiteSpace(text); isIPAddress(trimmed)) {
    return std::string(trimmed);
  }

  const nlohmann::json json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  // Like a JSON reader without fragment support: the top level must be a
  // container.
  if (json.is_discarded() || !(json.is_object() || json.is_array())) return std::nullopt;

  if (jsonKeyPath && !jsonKeyPath->empty()) {
    const nlohmann::json* current = &json;
    for (std::size_t pos = 0; pos <= jsonKeyPath->size();) {
      const std::size_t end = std::min(jsonKeyPath->find('.', pos), jsonKeyPath->size());
      if (end > pos) current = member(current, std::string(jsonKeyPath->substr(pos, end - pos)));
      pos = end + 1;
    }
    return addressIn(current);
  }

  for (const char* key : {"ip", "ip_addr", "address", "query", "ipAddress", "origin"}) {
    if (auto address = addressIn(member(&json, key))) return address;
  }
  return std::nullopt;
}

}  // namespace bcn::PublicIPService
