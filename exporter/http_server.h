// HttpServer: the exporter's HTTP endpoint. GET (or HEAD) /metrics answers
// with what the handler renders; / with a short page linking to it;
// anything else with 404 or 405.
//
// Built on Boost.Beast over Boost.Asio (libboost-dev, header-only). Beast
// is the maintained HTTP/1.1 parser and serializer Debian ships for Asio;
// the standalone Asio the lookup uses has no HTTP server of its own, and
// Beast requires Boost's Asio, so the exporter carries both (they live in
// different namespaces and never share an object).
//
// Every client is treated as hostile: a request's header is at most
// kHeaderLimit bytes and a body is refused; a request must arrive whole
// within `requestTimeout` (a client trickling bytes is cut off when it
// runs out, not when it pauses), and so must the answer be taken;
// connections beyond `maxConnections` are closed as soon as they are
// accepted, so a crowd of idle sockets cannot starve the scraper for long
// and never grows memory or descriptors without bound.
//
// Thread safety: construct, then run() on one thread; stop() from any
// thread ends run(). REQUIRES: run() has returned before destruction. The handler runs on the server's threads, possibly on
// several at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bcn::metrics {

class HttpServer {
 public:
  static constexpr std::size_t kHeaderLimit = 8 * 1024;

  struct Options {
    std::string address = "127.0.0.1";
    std::uint16_t port = 0;  // 0: any free port (see port())
    int adoptedSocket = -1;  // a listening socket handed over (socket activation) instead of address:port
    std::size_t maxConnections = 64;
    std::chrono::milliseconds requestTimeout{10'000};
    int threads = 2;
  };
  using Handler = std::function<std::string()>;

  // Binds and listens; throws (boost::system::system_error, a
  // std::runtime_error) when the address is invalid or cannot be bound.
  HttpServer(Options options, Handler metrics);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  std::uint16_t port() const;
  // Serves until stop().
  void run();
  void stop();

  // Connections open right now.
  std::size_t connections() const;

  struct State;  // opaque; public only so the connections in the .cc reach it

 private:
  std::unique_ptr<State> state_;
};

}  // namespace bcn::metrics
