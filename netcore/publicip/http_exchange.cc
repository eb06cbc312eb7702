#include "netcore/publicip/http_exchange.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <array>
#include <exception>
#include <optional>
#include <system_error>
#include <tuple>

#include <asio/co_spawn.hpp>
#include <asio/experimental/deferred.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/parallel_group.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/error.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "netcore/publicip/family_resolver.h"
#include "netcore/publicip/lookup_request.h"

namespace bcn::PublicIPService {
namespace {

using asio::ip::tcp;
constexpr auto kAwait = asio::experimental::as_tuple(asio::use_awaitable);

// One connection from creation to close: resolve, connect, TLS handshake,
// send the request, read until the peer closes or the cap is passed.
class Connection {
 public:
  Connection(const asio::any_io_executor& executor, const LookupRequest& request,
             IPVersion version, LazyTLSContext& tls)
      : request_(request), version_(version), resolver_(executor), socket_(executor) {
    if (request.tls) tls_.emplace(socket_, tls.get());
  }

  // Ends whatever step is in progress and closes the socket; idempotent.
  void cancel() {
    cancelled_ = true;
    resolver_.cancel();
    std::error_code ignored;
    socket_.close(ignored);
  }

  // True when exchange() ended on its own, before any cancel().
  bool finishedUncancelled() const { return finishedUncancelled_; }

  // The raw response: status line, headers and body.
  asio::awaitable<std::expected<Bytes, FetchError>> exchange() {
    // co_await stays out of conditions here: GCC 12 miscompiles it inside
    // ?: (both arms run) and inside if conditions.
    std::expected<Bytes, FetchError> result;
    const auto opened = co_await open();
    if (!opened) {
      result = std::unexpected(opened.error());
    } else {
      const std::string request = request_.bytes();
      if (tls_) {
        result = co_await sendAndReceive(*tls_, request);
      } else {
        result = co_await sendAndReceive(socket_, request);
      }
    }
    finishedUncancelled_ = !cancelled_;
    co_return result;
  }

 private:
  asio::awaitable<std::expected<void, FetchError>> open() {
    const int family = version_ == IPVersion::v4 ? AF_INET : AF_INET6;
    auto endpoints = co_await resolver_.resolve(request_.host, request_.port, family);
    if (!endpoints) co_return std::unexpected(endpoints.error());

    std::error_code lastError;
    for (const tcp::endpoint& endpoint : *endpoints) {
      // A cancelled connection stays closed: connecting would reopen it.
      if (cancelled_) co_return std::unexpected(cancelledError());
      std::error_code ignored;
      socket_.close(ignored);
      std::tie(lastError) = co_await socket_.async_connect(endpoint, kAwait);
      if (!lastError) break;
    }
    if (cancelled_) co_return std::unexpected(cancelledError());
    if (lastError) co_return std::unexpected(socketError(lastError));

    if (tls_) {
      if (!configureTLS()) co_return std::unexpected(tlsError({}));
      const auto [error] = co_await tls_->async_handshake(asio::ssl::stream_base::client, kAwait);
      if (cancelled_) co_return std::unexpected(cancelledError());
      if (error) co_return std::unexpected(tlsError(error));
    }
    co_return std::expected<void, FetchError>{};
  }

  // SNI for host names (never for address literals), and verification of
  // the chain and of the certificate's name or address against the URL.
  bool configureTLS() {
    SSL* ssl = tls_->native_handle();
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const std::string& host = request_.host;
    if (request_.ipLiteral) return X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1;
    return SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 &&
           X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
  }

  template <typename Stream>
  asio::awaitable<std::expected<Bytes, FetchError>> sendAndReceive(Stream& stream,
                                                                   const std::string& request) {
    const auto [sendError, sent] = co_await asio::async_write(stream, asio::buffer(request), kAwait);
    if (cancelled_) co_return std::unexpected(cancelledError());
    if (sendError) co_return std::unexpected(streamError(sendError));

    Bytes response;
    std::array<std::uint8_t, kReadSize> chunk;
    while (true) {
      const auto [error, received] = co_await stream.async_read_some(asio::buffer(chunk), kAwait);
      if (cancelled_) co_return std::unexpected(cancelledError());
      response.insert(response.end(), chunk.begin(), chunk.begin() + received);
      // The request asked the server to close when done; a TLS peer that
      // closes without a close_notify has closed all the same.
      if (error == asio::error::eof || error == asio::ssl::error::stream_truncated) {
        co_return response;
      }
      if (error) co_return std::unexpected(streamError(error));
      if (response.size() > kResponseCap) co_return response;
    }
  }

  PlatformError streamError(const std::error_code& error) {
    return error.category() == asio::error::get_ssl_category() ? tlsError(error)
                                                               : socketError(error);
  }

  // The certificate check's own verdict when that is what failed
  // ("certificate verify failed: Hostname mismatch"), else OpenSSL's reason.
  PlatformError tlsError(const std::error_code& error) {
    std::string description = error ? error.message() : "TLS set-up failed";
    if (tls_) {
      const long verdict = SSL_get_verify_result(tls_->native_handle());
      if (verdict != X509_V_OK) {
        description = "certificate verify failed: ";
        description += X509_verify_cert_error_string(verdict);
      }
    }
    return {kTLSDomain, error.value(), description};
  }

  const LookupRequest& request_;
  const IPVersion version_;
  FamilyResolver resolver_;
  tcp::socket socket_;
  std::optional<asio::ssl::stream<tcp::socket&>> tls_;
  bool cancelled_ = false;
  bool finishedUncancelled_ = false;
};

// The losing side of the race when the exchange ends first (its wait is
// then cancelled); otherwise it closes the connection, which ends the
// exchange's pending step at once.
asio::awaitable<void> closeWhenDue(Deadline& deadline, Connection& connection) {
  const Deadline::Outcome outcome = co_await deadline.wait();
  if (outcome != Deadline::Outcome::pending) connection.cancel();
  co_return;
}

}  // namespace

asio::ssl::context& LazyTLSContext::get() {
  if (!context_) {
    context_.emplace(asio::ssl::context::tls_client);
    std::error_code ignored;  // without a trust store every handshake fails, which says why
    context_->set_default_verify_paths(ignored);
    context_->set_verify_mode(asio::ssl::verify_peer, ignored);
  }
  return *context_;
}

asio::awaitable<std::expected<Bytes, FetchError>> get(std::string url, IPVersion version,
                                                      LazyTLSContext& tls, Deadline& deadline) {
  const auto request = makeLookupRequest(url);
  if (!request) co_return std::unexpected(request.error());

  const auto executor = co_await asio::this_coro::executor;
  Connection connection(executor, *request, version, tls);
  // Both children have ended when the group completes: the loser was
  // cancelled and waited for.
  auto [order, exchangeException, response, deadlineException] =
      co_await asio::experimental::make_parallel_group(
          asio::co_spawn(executor, connection.exchange(), asio::experimental::deferred),
          asio::co_spawn(executor, closeWhenDue(deadline, connection), asio::experimental::deferred))
          .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  connection.cancel();

  if (exchangeException) std::rethrow_exception(exchangeException);
  if (deadlineException) std::rethrow_exception(deadlineException);
  if (!connection.finishedUncancelled()) {
    co_return std::unexpected(deadline.outcome() == Deadline::Outcome::expired ? timedOutError()
                                                                               : cancelledError());
  }
  if (!response) co_return std::unexpected(response.error());
  auto body = parseHTTP(*response);
  if (!body) co_return std::unexpected(body.error());
  co_return std::move(*body);
}

std::expected<Bytes, FetchError> getBlocking(const std::string& url, IPVersion version,
                                             BootClock::duration limit) {
  asio::io_context io(1);
  LazyTLSContext tls;
  Deadline deadline(io.get_executor(), limit);
  std::expected<Bytes, FetchError> result = std::unexpected(cancelledError());
  asio::co_spawn(io, get(url, version, tls, deadline),
                 [&](std::exception_ptr exception, std::expected<Bytes, FetchError> outcome) {
                   result = exception ? std::unexpected(escapedException(exception))
                                      : std::move(outcome);
                 });
  io.run();
  return result;
}

}  // namespace bcn::PublicIPService
