// FamilyResolver: name resolution restricted to one address family, so a
// lookup forced over IPv4 never sees an IPv6 address and the other way
// round. A host without an address of that family fails here.
//
// getaddrinfo cannot be interrupted, and a name server that never answers
// would hold it for longer than a lookup may take. So each resolution runs
// on a short-lived thread of its own; the caller waits on its executor and
// may walk away (cancel()) at any time, in which case the thread finishes
// on its own later and its answer is dropped. Both families of one lookup
// thus resolve at the same time.
//
// Not thread-safe: use one object from the thread that runs its executor,
// which must be single-threaded. The object may be destroyed while a
// resolution thread is still running.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "platform/error.h"

namespace bcn::PublicIPService {

class FamilyResolver {
 public:
  explicit FamilyResolver(const asio::any_io_executor& executor);
  ~FamilyResolver();
  FamilyResolver(const FamilyResolver&) = delete;
  FamilyResolver& operator=(const FamilyResolver&) = delete;

  // The addresses of `host` in `family` (AF_INET or AF_INET6) with `port`,
  // in the order the system gives them. Fails with a resolution error, or
  // with cancelledError() after cancel() or when the wait is cancelled.
  // REQUIRES: no other resolve() of this object is in progress.
  asio::awaitable<std::expected<std::vector<asio::ip::tcp::endpoint>, PlatformError>> resolve(
      const std::string& host, std::uint16_t port, int family);

  // Ends a resolve() in progress with cancelledError(); idempotent.
  void cancel();

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  asio::steady_timer wake_;
  bool cancelled_ = false;
};

}  // namespace bcn::PublicIPService
