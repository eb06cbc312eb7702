#include "netcore/publicip/testing/local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <stdexcept>

namespace bcn::testing {
namespace {

std::runtime_error failure(const std::string& what) {
  return std::runtime_error("LocalHttpServer: " + what + ": " + std::strerror(errno));
}

int millisecondsLeft(std::chrono::steady_clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      end - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long>(0, left.count()));
}

}  // namespace

Peer::Peer(int fd, SSL* ssl, int stopFd) : fd_(fd), ssl_(ssl), stopFd_(stopFd) {}

int Peer::waitReadable(std::chrono::milliseconds timeout) {
  if (ssl_ != nullptr && SSL_pending(ssl_) > 0) return 1;
  pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
  const int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
  if (ready < 0 || (fds[1].revents & POLLIN) != 0) return -1;
  return ready == 0 ? 0 : 1;
}

long Peer::receive(char* buffer, std::size_t size) {
  if (ssl_ != nullptr) return SSL_read(ssl_, buffer, static_cast<int>(size));
  return ::recv(fd_, buffer, size, 0);
}

std::string Peer::readRequest(std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  std::string request;
  while (request.find("\r\n\r\n") == std::string::npos) {
    if (waitReadable(std::chrono::milliseconds(millisecondsLeft(end))) != 1) break;
    char buffer[4096];
    const long n = receive(buffer, sizeof buffer);
    if (n <= 0) break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  return request;
}

bool Peer::write(std::string_view bytes) {
  while (!bytes.empty()) {
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, 10'000) <= 0 || (fds[1].revents & POLLIN) != 0) return false;
    const long n = ssl_ != nullptr ? SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()))
                                   : ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool Peer::pause(std::chrono::milliseconds duration) {
  pollfd stop{stopFd_, POLLIN, 0};
  return ::poll(&stop, 1, static_cast<int>(duration.count())) == 0;
}

bool Peer::waitForClose(std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (waitReadable(std::chrono::milliseconds(millisecondsLeft(end))) != 1) return false;
    char buffer[4096];
    // Plain recv even under TLS: a closed TCP connection is what counts.
    const long n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
  }
}

std::string Peer::clientAddress() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  const void* raw = address.ss_family == AF_INET
                        ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&address)->sin_addr)
                        : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr);
  return ::inet_ntop(address.ss_family, raw, text, sizeof text) != nullptr ? text : "";
}

LocalHttpServer::LocalHttpServer(const Options& options, Handler handler)
    : handler_(std::move(handler)) {
  // A client that hangs up mid-answer must not kill the test with SIGPIPE
  // (TLS writes go through write(2), which has no MSG_NOSIGNAL).
  std::signal(SIGPIPE, SIG_IGN);
  if (options.tls != nullptr) {
    tls_.reset(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!tls_ || SSL_CTX_use_certificate(tls_.get(), options.tls->certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(tls_.get(), options.tls->key.get()) != 1) {
      throw std::runtime_error("LocalHttpServer: TLS set-up failed");
    }
  }
  if (::pipe(stopPipe_) != 0) throw failure("pipe");
  listenFd_ = ::socket(options.family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw failure("socket");
  const int on = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_storage address{};
  socklen_t length = 0;
  if (options.family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(options.port);
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *v4;
  } else {
    ::setsockopt(listenFd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(options.port);
    v6->sin6_addr = in6addr_loopback;
    length = sizeof *v6;
  }
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const auto error = failure("bind/listen");
    ::close(listenFd_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
    throw error;
  }
  port_ = ntohs(options.family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                          : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

LocalHttpServer::~LocalHttpServer() {
  const char stop = 1;
  [[maybe_unused]] const auto written = ::write(stopPipe_[1], &stop, 1);
  acceptor_.join();
  {
    const std::lock_guard guard(lock_);
    for (auto& t : connections_) t.join();
  }
  ::close(listenFd_);
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
}

void LocalHttpServer::acceptLoop() {
  while (true) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if ((fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++accepted_;
    const std::lock_guard guard(lock_);
    connections_.emplace_back([this, fd] { serve(fd); });
  }
}

void LocalHttpServer::serve(int fd) {
  SSL* ssl = nullptr;
  if (tls_) {
    // The handshake blocks; a bound on it keeps a silent client from
    // holding the server's destructor.
    const timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ssl = SSL_new(tls_.get());
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) != 1) {
      SSL_free(ssl);
      ::close(fd);
      return;
    }
  }
  Peer peer(fd, ssl, stopPipe_[0]);
  handler_(peer);
  if (ssl != nullptr) {
    SSL_shutdown(ssl);
    SSL_free(ssl);
  }
  ::close(fd);
}

std::string LocalHttpServer::response(std::string_view statusLine, std::string_view body,
                                      std::string_view extraHeaders) {
  std::string text(statusLine);
  text += "\r\nContent-Type: text/plain\r\n";
  text += extraHeaders;
  text += "Connection: close\r\n\r\n";
  text += body;
  return text;
}

LocalHttpServer::Handler LocalHttpServer::answer(std::string bytes, std::chrono::milliseconds delay) {
  return [bytes = std::move(bytes), delay](Peer& peer) {
    peer.readRequest();
    if (delay.count() > 0 && !peer.pause(delay)) return;
    peer.write(bytes);
  };
}

LocalHttpServer::Handler LocalHttpServer::echo(std::chrono::milliseconds delay) {
  return [delay](Peer& peer) {
    peer.readRequest();
    if (delay.count() > 0 && !peer.pause(delay)) return;
    peer.write(response("HTTP/1.1 200 OK", peer.clientAddress() + "\n"));
  };
}

DualStackServers::DualStackServers(LocalHttpServer::Handler v4Handler,
                                   LocalHttpServer::Handler v6Handler, const ServerIdentity* tls) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    v4 = std::make_unique<LocalHttpServer>(LocalHttpServer::Options{AF_INET, 0, tls}, v4Handler);
    try {
      v6 = std::make_unique<LocalHttpServer>(LocalHttpServer::Options{AF_INET6, v4->port(), tls},
                                             v6Handler);
      return;
    } catch (const std::runtime_error&) {
      v4.reset();  // that port is taken on ::1; try another
    }
  }
  throw std::runtime_error("DualStackServers: no port free on both 127.0.0.1 and ::1");
}

}  // namespace bcn::testing
