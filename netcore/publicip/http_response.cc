#include "netcore/publicip/http_response.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace bcn {
namespace {

using ByteSpan = std::span<const std::uint8_t>;

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kBlankLine = "\r\n\r\n";

// Offset of the first occurrence of `needle` in `haystack`, if any.
std::optional<std::size_t> find(ByteSpan haystack, std::string_view needle) {
  const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                              [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
  if (it == haystack.end()) return std::nullopt;
  return static_cast<std::size_t>(it - haystack.begin());
}

std::string_view asText(ByteSpan bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Parses all of `text` as an integer in `base` with an optional sign, the
// way an integer conversion of text does; nothing for anything else
// (spaces, stray characters, overflow).
std::optional<std::int64_t> parseInteger(std::string_view text, int base) {
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// The status of the first line: its second space-separated piece as a
// decimal number, else 0 (also for one that does not fit 64 bits). The
// protocol version is not checked.
std::int64_t statusOf(std::string_view statusLine) {
  std::size_t piece = 0;
  std::size_t pos = 0;
  while (pos < statusLine.size()) {
    if (statusLine[pos] == ' ') {
      ++pos;
      continue;
    }
    const std::size_t end = std::min(statusLine.find(' ', pos), statusLine.size());
    if (piece == 1) {
      return parseInteger(statusLine.substr(pos, end - pos), 10).value_or(0);
    }
    ++piece;
    pos = end;
  }
  return 0;
}

bool isChunkedHeader(std::string_view line) {
  constexpr std::string_view kName = "transfer-encoding:";
  std::string lower(line);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return lower.starts_with(kName) && lower.find("chunked") != std::string::npos;
}

}  // namespace

std::expected<Bytes, PublicIPError> parseHTTP(ByteSpan response) {
  const auto separator = find(response, kBlankLine);
  if (!separator) return std::unexpected(PublicIPError::malformed());
  // Only ASCII tokens are looked for in the head, so working on its bytes
  // gives the same answers as on its UTF-8 decoding with replacements.
  const std::string_view head = asText(response.first(*separator));
  const ByteSpan body = response.subspan(*separator + kBlankLine.size());

  const std::string_view statusLine = head.substr(0, head.find(kCRLF));
  const std::int64_t status = statusOf(statusLine);
  if (status < 200 || status > 299) return std::unexpected(PublicIPError::http(status));

  bool chunked = false;
  for (std::size_t pos = 0; pos <= head.size() && !chunked;) {
    const std::size_t end = std::min(head.find(kCRLF, pos), head.size());
    chunked = isChunkedHeader(head.substr(pos, end - pos));
    pos = end + kCRLF.size();
  }
  if (chunked) return dechunk(body);
  return Bytes(body.begin(), body.end());
}

std::expected<Bytes, PublicIPError> dechunk(ByteSpan body) {
  Bytes result;
  ByteSpan rest = body;
  while (true) {
    const auto lineEnd = find(rest, kCRLF);
    if (!lineEnd) return result;
    const std::string_view sizeLine = asText(rest.first(*lineEnd));

    // The first non-empty piece between semicolons; a line of nothing but
    // semicolons has none.
    std::string_view sizeText;
    for (std::size_t pos = 0; pos < sizeLine.size() && sizeText.empty();) {
      const std::size_t end = std::min(sizeLine.find(';', pos), sizeLine.size());
      sizeText = sizeLine.substr(pos, end - pos);
      pos = end + 1;
    }
    if (sizeText.empty()) return std::unexpected(PublicIPError::malformed());
    const auto size = parseInteger(sizeText, 16);
    if (!size || *size < 0) return std::unexpected(PublicIPError::malformed());
    if (*size == 0) return result;

    rest = rest.subspan(*lineEnd + kCRLF.size());
    if (static_cast<std::uint64_t>(*size) > rest.size()) {
      return std::unexpected(PublicIPError::malformed());
    }
    const auto chunkSize = static_cast<std::size_t>(*size);
    result.insert(result.end(), rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(chunkSize));
    rest = rest.subspan(std::min(chunkSize + 2, rest.size()));
  }
}

}  // namespace bcn
