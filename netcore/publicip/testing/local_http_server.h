// LocalHttpServer: a small blocking HTTP(S) server on 127.0.0.1 or ::1 for
// tests and benchmarks of the lookup. Every accepted connection runs the
// given handler on a thread of its own and is closed when the handler
// returns (after a TLS close_notify for TLS). The destructor wakes every
// waiting handler, then joins all threads.
//
// Test-only code. Handlers run concurrently; anything they share with the
// test must be synchronised by the test.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "netcore/publicip/testing/test_pki.h"

namespace bcn::testing {

// One accepted connection, seen from the server.
class Peer {
 public:
  Peer(int fd, SSL* ssl, int stopFd);
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // The request head up to and including CR LF CR LF, or whatever arrived
  // before the client closed, `timeout` passed or the server stopped.
  std::string readRequest(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // False when the client has gone or the server is stopping.
  bool write(std::string_view bytes);
  // Waits without answering; false when the server is stopping.
  bool pause(std::chrono::milliseconds duration);
  // True when the client closed its side within `timeout` (anything it
  // sends meanwhile is discarded).
  bool waitForClose(std::chrono::milliseconds timeout);
  // The client's address as text ("127.0.0.1", "::1").
  std::string clientAddress() const;

 private:
  // Readable data, or the stop signal, within `timeout`; 1 readable, 0 timed
  // out, -1 stopping or failed.
  int waitReadable(std::chrono::milliseconds timeout);
  long receive(char* buffer, std::size_t size);

  int fd_;
  SSL* ssl_;
  int stopFd_;
};

class LocalHttpServer {
 public:
  using Handler = std::function<void(Peer&)>;

  struct Options {
    int family = 0;           // AF_INET (127.0.0.1) or AF_INET6 (::1, IPv6 only)
    std::uint16_t port = 0;   // 0 for an ephemeral port
    const ServerIdentity* tls = nullptr;  // serve TLS with this identity
  };

  // Throws std::runtime_error when it cannot listen (e.g. the port is taken).
  LocalHttpServer(const Options& options, Handler handler);
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  std::uint16_t port() const { return port_; }
  int accepted() const { return accepted_.load(); }

  // A complete response with the given status line and body, closed by the
  // server ("HTTP/1.1 200 OK", "1.2.3.4").
  static std::string response(std::string_view statusLine, std::string_view body,
                              std::string_view extraHeaders = {});
  // Reads the request, waits `delay`, sends `bytes`.
  static Handler answer(std::string bytes, std::chrono::milliseconds delay = {});
  // Answers 200 with the client's own address as plain text after `delay`:
  // an echo service.
  static Handler echo(std::chrono::milliseconds delay = {});

 private:
  void acceptLoop();
  void serve(int fd);

  Handler handler_;
  std::shared_ptr<SSL_CTX> tls_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::atomic<int> accepted_{0};
  std::mutex lock_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

// Servers on 127.0.0.1 and ::1 sharing one port, as a dual-stack service
// behind one name would be. Throws when no common port is found.
struct DualStackServers {
  DualStackServers(LocalHttpServer::Handler v4, LocalHttpServer::Handler v6,
                   const ServerIdentity* tls = nullptr);
  std::uint16_t port() const { return v4->port(); }

  std::unique_ptr<LocalHttpServer> v4;
  std::unique_ptr<LocalHttpServer> v6;
};

}  // namespace bcn::testing
