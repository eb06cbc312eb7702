// The --listen argument: "HOST:PORT", "[IPV6]:PORT" or ":PORT" (loopback).
// Only numeric addresses: the exporter binds, it does not resolve names.
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace bcn::metrics {

// Outside 9100-9999, the range the Prometheus project hands out to
// exporters and which is fully allocated; node_exporter sits on 9100.
inline constexpr std::uint16_t kDefaultPort = 10190;
inline constexpr std::string_view kDefaultListen = "127.0.0.1:10190";

struct ListenAddress {
  std::string host;  // without brackets
  std::uint16_t port = 0;
};

// The address, or a one-line reason it is not one.
std::expected<ListenAddress, std::string> parseListenAddress(std::string_view text);

}  // namespace bcn::metrics
