// Client: one connection to a service socket. Calls are sent at once and
// answered asynchronously (completion) or synchronously (with a time limit).
//
// Every completion runs exactly once, on the client's own I/O thread: with
// the reply, or with an IPC error — connectionInterrupted() when the
// connection ended while the call waited, connectionInvalid() for calls
// made after it closed, replyInvalid() when the service broke the protocol
// (which also closes the connection), or the server's own reason when it
// refused the connection (a reply to sequence 0, e.g.
// connectionLimitReached()). A reply's method-level failure is in
// ReplyValues::error, not in the IPC error.
//
// A synchronous call made while nothing else waits on the connection reads
// its own reply on the caller's thread, sparing a thread switch; any other
// reply it comes across is still completed on the I/O thread. Between
// calls, a connection without an `ended` listener is not read at all: its
// end is noticed by the next call or by isOpen().
//
// Thread-safe: any thread may call, close or destroy the client, except
// that callSync and the destructor must not run inside a completion (they
// would wait for the thread they run on; callSync then fails with EDEADLK).
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/error.h"
#include "platform/ipc/ipc_errors.h"
#include "platform/ipc/message.h"
#include "platform/ipc/peer.h"

namespace bcn::ipc {

class Client {
 public:
  using Result = std::expected<ReplyValues, PlatformError>;
  using Completion = std::function<void(Result)>;

  struct Options {
    // Told once, on the I/O thread, when the connection ends for any reason
    // (after the pending completions have run).
    std::function<void(const PlatformError&)> ended;
  };

  static std::expected<std::unique_ptr<Client>, PlatformError> connect(const std::filesystem::path& socketPath,
                                                                       Options options = {});
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Sends a call; returns its sequence number.
  std::uint64_t call(std::string_view selector, PlistDictionary arguments, Completion done);

  // Sends a call and waits up to `timeout` for its answer; on timeout the
  // call is forgotten (a late reply is dropped) and timedOut() returned.
  Result callSync(std::string_view selector, PlistDictionary arguments, std::chrono::milliseconds timeout);

  // Ends the connection; waiting calls complete with connectionInvalid().
  void close();
  // False once the connection has ended, or the server has hung up.
  bool isOpen() const;

  // Who serves the socket, read once when connecting.
  const PeerCredentials& server() const { return server_; }

  struct State;

 private:
  Client(std::shared_ptr<State> state, PeerCredentials server) : state_(std::move(state)), server_(server) {}
  std::shared_ptr<State> state_;
  PeerCredentials server_;
};

}  // namespace bcn::ipc
