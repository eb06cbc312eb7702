#include "netcore/publicip/public_ip_service.h"

#include <exception>
#include <expected>
#include <string>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "netcore/publicip/http_exchange.h"
#include "netcore/publicip/lookup_within.h"

namespace bcn::PublicIPService {
namespace {

using SideResult = std::expected<std::string, FetchError>;

// One IP version's part of a lookup: fetch, then find the address.
asio::awaitable<SideResult> lookupSide(const std::string& url,
                                       const std::optional<std::string>& jsonKeyPath,
                                       IPVersion version, LazyTLSContext& tls,
                                       Deadline& deadline) {
  auto body = co_await get(url, version, tls, deadline);
  if (!body) co_return std::unexpected(body.error());
  auto address = extractAddress(*body, jsonKeyPath);
  if (!address) co_return std::unexpected(PublicIPError::noAddress());
  co_return std::move(*address);
}

}  // namespace

PublicIPResult lookup(std::string_view url, std::optional<std::string_view> jsonKeyPath,
                      std::stop_token stop) {
  return lookupWithin(url, jsonKeyPath, kTimeLimit, std::move(stop));
}

PublicIPResult lookupWithin(std::string_view url, std::optional<std::string_view> jsonKeyPath,
                            BootClock::duration limit, std::stop_token stop) {
  const std::string urlText(url);
  const std::optional<std::string> keyPath =
      jsonKeyPath ? std::optional<std::string>(*jsonKeyPath) : std::nullopt;

  asio::io_context io(1);
  LazyTLSContext tls;
  Deadline v4Deadline(io.get_executor(), limit);
  Deadline v6Deadline(io.get_executor(), limit);
  SideResult v4 = std::unexpected(cancelledError());
  SideResult v6 = std::unexpected(cancelledError());
  const auto into = [](SideResult& slot) {
    return [&slot](std::exception_ptr exception, SideResult outcome) {
      slot = exception ? std::unexpected(escapedException(exception)) : std::move(outcome);
    };
  };
  asio::co_spawn(io, lookupSide(urlText, keyPath, IPVersion::v4, tls, v4Deadline), into(v4));
  asio::co_spawn(io, lookupSide(urlText, keyPath, IPVersion::v6, tls, v6Deadline), into(v6));

  // The callback may run on the thread asking for the stop; the deadlines
  // belong to the thread running `io`, so the cancel is handed over.
  const std::stop_callback onStop(stop, [&] {
    asio::post(io, [&] {
      v4Deadline.cancel();
      v6Deadline.cancel();
    });
  });
  io.run();

  PublicIPResult result;
  if (v4) result.ipv4 = std::move(*v4);
  if (v6) result.ipv6 = std::move(*v6);
  if (!v4 && !v6) result.error = describe(v4.error());
  return result;
}

}  // namespace bcn::PublicIPService
