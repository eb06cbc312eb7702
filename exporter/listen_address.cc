#include "exporter/listen_address.h"

#include <arpa/inet.h>

#include <charconv>

namespace bcn::metrics {

std::expected<ListenAddress, std::string> parseListenAddress(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::unexpected("expected HOST:PORT, got '" + std::string(text) + "'");
  std::string host(text.substr(0, colon));
  const std::string_view portText = text.substr(colon + 1);
  unsigned port = 0;
  const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (portText.empty() || error != std::errc{} || end != portText.data() + portText.size() || port > 65535) {
    return std::unexpected("invalid port '" + std::string(portText) + "'");
  }
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  if (bracketed) host = host.substr(1, host.size() - 2);
  if (host.empty()) host = "127.0.0.1";
  unsigned char buffer[16];
  const bool v4 = !bracketed && inet_pton(AF_INET, host.c_str(), buffer) == 1;
  const bool v6 = inet_pton(AF_INET6, host.c_str(), buffer) == 1;
  if (!v4 && !v6) return std::unexpected("'" + host + "' is not a numeric IPv4 or bracketed IPv6 address");
  if (v6 && !bracketed) return std::unexpected("write an IPv6 address in brackets: [" + host + "]:PORT");
  return ListenAddress{host, static_cast<std::uint16_t>(port)};
}

}  // namespace bcn::metrics
