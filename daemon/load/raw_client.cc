#include "daemon/load/raw_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bcn::load {
namespace {

using Clock = std::chrono::steady_clock;

// The raw system call changes the credentials of the calling thread only;
// the C library's wrapper would change every thread of the process.
bool setThreadEffectiveUID(std::uint32_t uid) {
  return ::syscall(SYS_setresuid, static_cast<uid_t>(-1), static_cast<uid_t>(uid), static_cast<uid_t>(-1)) == 0;
}

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::vector<std::uint8_t> callBytes(std::uint64_t sequence, std::string_view selector, PlistDictionary arguments) {
  return ipc::callFrame({sequence, std::string(selector), std::move(arguments)}).value_or(std::vector<std::uint8_t>{});
}

std::vector<std::uint8_t> frameHeader(std::uint32_t length) {
  return {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
          static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

std::unique_ptr<RawClient> RawClient::connect(const std::filesystem::path& path, std::optional<std::uint32_t> uid) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.native().size() >= sizeof address.sun_path) return nullptr;
  std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  const uid_t previous = ::geteuid();
  if (uid && !setThreadEffectiveUID(*uid)) {
    ::close(fd);
    return nullptr;
  }
  const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  const int error = errno;
  if (uid) setThreadEffectiveUID(previous);
  if (!connected) {
    ::close(fd);
    errno = error;
    return nullptr;
  }
  return std::unique_ptr<RawClient>(new RawClient(fd));
}

RawClient::~RawClient() { close(); }

void RawClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  closed_ = true;
}

bool RawClient::sendBytes(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty() && fd_ >= 0) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return bytes.empty();
}

bool RawClient::sendCall(std::uint64_t sequence, std::string_view selector, PlistDictionary arguments) {
  const auto frame = callBytes(sequence, selector, std::move(arguments));
  if (frame.empty()) return false;
  waiting_.insert(sequence);
  return sendBytes(frame);
}

bool RawClient::sendCalls(const std::vector<ipc::CallMessage>& calls) {
  std::vector<std::uint8_t> bytes;
  for (const auto& call : calls) {
    auto frame = ipc::callFrame(call);
    if (!frame) return false;
    bytes.insert(bytes.end(), frame->begin(), frame->end());
    waiting_.insert(call.sequence);
  }
  return sendBytes(bytes);
}

bool RawClient::pump(std::chrono::milliseconds limit) {
  if (closed_) return false;
  pollfd p{fd_, POLLIN, 0};
  const int ready = ::poll(&p, 1, static_cast<int>(limit.count()));
  if (ready <= 0) return ready == 0 || errno == EINTR;
  std::uint8_t buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      // End of stream, or a reset because the daemon closed while our
      // bytes were still unread: either way the connection is over.
      close();
      break;
    }
    reader_.append(std::span(buffer, static_cast<std::size_t>(n)));
    if (static_cast<std::size_t>(n) < sizeof buffer) break;
  }
  for (;;) {
    auto frame = reader_.next();
    if (!frame) {
      ++faults_.garbage;
      close();
      return false;
    }
    if (!*frame) break;
    file(std::move(**frame));
  }
  return !closed_;
}

void RawClient::file(std::vector<std::uint8_t> payload) {
  auto reply = ipc::decodeReply(payload);
  if (!reply) {
    ++faults_.garbage;
    return;
  }
  ++faults_.replies;
  if (reply->sequence == 0 && reply->reply.error && !waiting_.contains(0)) {
    refusal_ = reply->reply.error;
    return;
  }
  if (answered_.contains(reply->sequence)) {
    ++faults_.duplicates;
  } else if (!waiting_.contains(reply->sequence)) {
    ++faults_.unexpected;
  } else {
    waiting_.erase(reply->sequence);
    answered_.insert(reply->sequence);
    replies_.emplace(reply->sequence, std::move(reply->reply));
  }
}

std::optional<ipc::ReplyValues> RawClient::take(std::uint64_t sequence) {
  auto it = replies_.find(sequence);
  if (it == replies_.end()) return std::nullopt;
  auto reply = std::move(it->second);
  replies_.erase(it);
  return reply;
}

std::optional<ipc::ReplyValues> RawClient::awaitReply(std::uint64_t sequence, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (auto reply = take(sequence)) return reply;
    if (closed_ || Clock::now() >= deadline) return std::nullopt;
    pump(std::chrono::milliseconds(millisecondsUntil(deadline)));
  }
}

bool RawClient::awaitClose(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!closed_ && Clock::now() < deadline) pump(std::chrono::milliseconds(millisecondsUntil(deadline)));
  return closed_;
}

void pumpAll(const std::vector<std::unique_ptr<RawClient>>& clients, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  do {
    std::vector<pollfd> ready;
    std::vector<RawClient*> owners;
    for (const auto& client : clients) {
      if (!client || client->closed()) continue;
      ready.push_back({client->descriptor(), POLLIN, 0});
      owners.push_back(client.get());
    }
    if (ready.empty() || ::poll(ready.data(), ready.size(), millisecondsUntil(deadline)) <= 0) return;
    for (std::size_t i = 0; i < ready.size(); ++i) {
      if (ready[i].revents != 0) owners[i]->pump(std::chrono::milliseconds(0));
    }
  } while (Clock::now() < deadline);
}

}  // namespace bcn::load
