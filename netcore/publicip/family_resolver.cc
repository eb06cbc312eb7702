#include "netcore/publicip/family_resolver.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include <asio/experimental/as_tuple.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>

#include "netcore/publicip/network_error.h"

namespace bcn::PublicIPService {

// What the resolving thread and the waiting side share. The thread posts
// to the executor only while `waiting` holds, which the waiting side
// clears (under the lock) before it goes away, so nothing is ever posted
// to an executor that may be gone.
struct FamilyResolver::Shared {
  std::mutex lock;
  bool waiting = false;
  bool finished = false;
  std::expected<std::vector<asio::ip::tcp::endpoint>, PlatformError> result;
  asio::any_io_executor executor;
  // Touched only on the executor's thread: the timer to wake, or nullptr
  // once the waiting side is gone.
  asio::steady_timer* wake = nullptr;
};

namespace {

std::expected<std::vector<asio::ip::tcp::endpoint>, PlatformError> resolveNow(
    const std::string& host, std::uint16_t port, int family) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  // No AI_ADDRCONFIG: the family is forced, whatever addresses the
  // machine has configured.
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (status != 0) return std::unexpected(resolutionError(status, errno));

  std::vector<asio::ip::tcp::endpoint> endpoints;
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family != family) continue;
    asio::ip::tcp::endpoint endpoint;
    if (a->ai_addrlen > endpoint.capacity()) continue;
    std::memcpy(endpoint.data(), a->ai_addr, a->ai_addrlen);
    endpoint.resize(a->ai_addrlen);
    endpoints.push_back(endpoint);
  }
  ::freeaddrinfo(list);
  if (endpoints.empty()) return std::unexpected(resolutionError(EAI_NONAME, 0));
  return endpoints;
}

}  // namespace

FamilyResolver::FamilyResolver(const asio::any_io_executor& executor) : wake_(executor) {}

FamilyResolver::~FamilyResolver() { cancel(); }

void FamilyResolver::cancel() {
  cancelled_ = true;
  if (shared_) {
    const std::lock_guard guard(shared_->lock);
    shared_->waiting = false;
    shared_->wake = nullptr;
  }
  wake_.cancel();
}

asio::awaitable<std::expected<std::vector<asio::ip::tcp::endpoint>, PlatformError>>
FamilyResolver::resolve(const std::string& host, std::uint16_t port, int family) {
  if (cancelled_) co_return std::unexpected(cancelledError());
  shared_ = std::make_shared<Shared>();
  shared_->executor = wake_.get_executor();
  shared_->waiting = true;
  shared_->wake = &wake_;

  try {
    std::thread([shared = shared_, host, port, family] {
      auto result = resolveNow(host, port, family);
      const std::lock_guard guard(shared->lock);
      shared->result = std::move(result);
      shared->finished = true;
      if (!shared->waiting) return;
      asio::post(shared->executor, [shared] {
        if (shared->wake != nullptr) shared->wake->cancel();
      });
    }).detach();
  } catch (const std::system_error& e) {
    co_return std::unexpected(socketError(e.code()));
  }

  // The timer never fires on its own: the thread's post (or cancel())
  // wakes the wait by cancelling it.
  wake_.expires_at(asio::steady_timer::time_point::max());
  co_await wake_.async_wait(asio::experimental::as_tuple(asio::use_awaitable));

  const std::lock_guard guard(shared_->lock);
  shared_->waiting = false;
  shared_->wake = nullptr;
  if (cancelled_ || !shared_->finished) co_return std::unexpected(cancelledError());
  co_return std::move(shared_->result);
}

}  // namespace bcn::PublicIPService

