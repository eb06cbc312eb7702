#include "netcore/publicip/lookup_request.h"

#include <uriparser/Uri.h>

#include <charconv>

namespace bcn {
namespace {

// Schemes are ASCII and compared without regard to letter case.
std::string asciiLowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string_view rangeText(const UriTextRangeA& range) {
  if (range.first == nullptr) return {};
  return {range.first, static_cast<std::size_t>(range.afterLast - range.first)};
}

// Owns the parsed URI so every exit frees it.
class ParsedUri {
 public:
  explicit ParsedUri(const std::string& text) {
    const char* errorPos = nullptr;
    ok_ = uriParseSingleUriExA(&uri_, text.data(), text.data() + text.size(), &errorPos) ==
          URI_SUCCESS;
  }
  ~ParsedUri() {
    if (ok_) uriFreeUriMembersA(&uri_);
  }
  ParsedUri(const ParsedUri&) = delete;
  ParsedUri& operator=(const ParsedUri&) = delete;

  bool ok() const { return ok_; }
  const UriUriA& uri() const { return uri_; }

 private:
  UriUriA uri_{};
  bool ok_ = false;
};

}  // namespace

std::string LookupRequest::bytes() const {
  return "GET " + target + " HTTP/1.1\r\nHost: " + hostHeader +
         "\r\nUser-Agent: Beaconbar\r\nAccept: */*\r\nConnection: close\r\n\r\n";
}

std::expected<LookupRequest, PublicIPError> makeLookupRequest(std::string_view url) {
  // uriparser reads up to an end pointer, but a NUL inside would still be
  // taken as the end of a C string by later steps; such a URL is invalid.
  if (url.find('\0') != std::string_view::npos) return std::unexpected(PublicIPError::badURL());
  const std::string text(url);
  ParsedUri parsed(text);
  if (!parsed.ok()) return std::unexpected(PublicIPError::badURL());
  const UriUriA& uri = parsed.uri();

  LookupRequest request;
  if (uri.hostText.first == nullptr || rangeText(uri.hostText).empty()) {
    return std::unexpected(PublicIPError::badURL());
  }
  request.host = std::string(rangeText(uri.hostText));
  const bool bracketed = uri.hostData.ip6 != nullptr || uri.hostData.ipFuture.first != nullptr;
  request.ipLiteral = bracketed || uri.hostData.ip4 != nullptr;
  request.hostHeader = bracketed ? "[" + request.host + "]" : request.host;

  const std::string scheme = asciiLowercase(rangeText(uri.scheme));
  if (uri.scheme.first == nullptr || (scheme != "http" && scheme != "https")) {
    return std::unexpected(PublicIPError::badURL());
  }
  request.tls = scheme == "https";

  const std::uint16_t defaultPort = request.tls ? 443 : 80;
  request.port = defaultPort;
  const std::string_view port = rangeText(uri.portText);
  if (!port.empty()) {  // "host:" with nothing after the colon means the default
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (error != std::errc{} || end != port.data() + port.size() || value > 65535) {
      return std::unexpected(PublicIPError::badURL());
    }
    request.port = static_cast<std::uint16_t>(value);
  }
  // A virtual host or proxy on another port routes on the port as well, so
  // it is named whenever it is not the scheme's own.
  if (request.port != defaultPort) request.hostHeader += ":" + std::to_string(request.port);

  for (const UriPathSegmentA* segment = uri.pathHead; segment != nullptr; segment = segment->next) {
    request.target += '/';
    request.target += rangeText(segment->text);
  }
  // push_back, not = "/": GCC 12 at -O2 reports a false -Wrestrict overlap
  // for assigning a one-character literal here.
  if (request.target.empty()) request.target.push_back('/');
  if (uri.query.first != nullptr) {
    request.target += '?';
    request.target += rangeText(uri.query);
  }
  return request;
}

}  // namespace bcn
