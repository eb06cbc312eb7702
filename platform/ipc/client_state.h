// Client::State: what a Client shares with its I/O thread and with the
// threads that call it. Internal to the IPC layer; client.h holds the
// contract. Every member says which thread may touch it: the mutex guards
// the call table, the write side and the reading role; the stream and its
// buffer belong to whoever holds the reading role; the rest to the I/O
// thread.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ipc/client.h"
#include "platform/ipc/reply_stream.h"
#include "platform/unique_fd.h"

namespace bcn::ipc {

using Watcher = asio::posix::stream_descriptor;
using Clock = std::chrono::steady_clock;

// Who reads the socket. The I/O thread watches it while something is owed
// to it (a call waiting on a completion, or an `ended` listener). Otherwise
// it lets go, and a synchronous caller reads its own reply: it is woken by
// the kernel, not by the I/O thread, which spares a thread switch on every
// lone call. Only one party reads at a time, and the role changes hands
// under the mutex, so the stream and its buffers need no lock of their own.
//
// The reactor sees the connection only through a duplicate descriptor that
// the I/O thread holds while it reads or writes: an epoll registration
// reports every arriving reply, armed or not, and would wake the thread
// for each reply a caller reads itself.
enum class Reader { ioThread, nobody, caller };

struct Client::State : std::enable_shared_from_this<Client::State> {
  asio::io_context io;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{io.get_executor()};
  UniqueFd fd;  // closed only under the mutex
  Options options;
  std::thread thread;

  // Guards everything from here to the reading role, that included. The
  // descriptor is closed only under it, and never while a caller reads or
  // writes it, so no thread meets a reused descriptor.
  std::mutex mutex;
  bool open = true;
  std::uint64_t nextSequence = 1;
  std::map<std::uint64_t, Completion> pending;

  // The write side. A caller whose frame has nothing ahead of it writes it
  // from its own thread, sparing the wake-up of the I/O thread that a lone
  // call would otherwise wait for; the I/O thread writes only what a full
  // socket left over.
  std::deque<std::vector<std::uint8_t>> outbox;
  bool writing = false;  // the I/O thread owns the writes
  bool writeFailed = false;
  bool socketClosed = false;
  bool closeDeferred = false;  // ended while a caller read: closed when it lets go
  bool closing = false;        // close() asked, end() may not have run

  Reader reader = Reader::ioThread;

  // The holder of the reading role only.
  ReplyStream stream;
  std::vector<std::uint8_t> readBuffer = std::vector<std::uint8_t>(64 * 1024);

  // I/O thread only.
  std::optional<Watcher> watcher;
  std::vector<std::vector<std::uint8_t>> inFlight;
  bool ended = false;

  // The reactor's view of the connection, made when first needed and let
  // go when the I/O thread neither reads nor writes. I/O thread only.
  bool attach();
  void detach();

  bool owedToIoThread() const { return options.ended || !pending.empty(); }

  // I/O thread, holding the reading role.
  void watch();

  // Whoever holds the reading role: what the socket has now, as replies.
  ReplyStream::Batch receive();

  // REQUIRES: mutex held, the reading role is nobody's.
  void handToIoThread();

  // Takes the call's completion off the table; empty when the call was
  // forgotten after a timeout or already settled.
  Completion take(std::uint64_t sequence);

  // Runs the call's completion, unless it was forgotten after a timeout.
  void deliver(std::uint64_t sequence, Result result);

  // Numbers a call and encodes its frame, outside the mutex: the I/O thread
  // delivers under it.
  std::pair<std::uint64_t, std::expected<std::vector<std::uint8_t>, PlatformError>> frameCall(
      std::string_view selector, PlistDictionary arguments);

  // Any thread.
  void send(std::vector<std::uint8_t> frame);

  // I/O thread, while `writing` is set: writes what is queued, in order,
  // until nothing is.
  void writeMore();

  // The server closed its end. What it sent before closing (a refusal,
  // replies) is still to be read; the read side ends the connection once it
  // reaches the end of the stream. REQUIRES: mutex held.
  void failWrites();

  // A synchronous caller holding the reading role: reads until its own reply
  // comes, the deadline passes or the stream ends. Other replies, and the
  // end, go to the I/O thread, in the order read, so every completion still
  // runs there. Lets go of the role. Gives the reply, or timedOut() once the
  // deadline passes (the call is then forgotten); nothing when the call is
  // left to complete through the I/O thread (the connection ended, or the
  // wait could not go on here).
  std::optional<Result> readOwnReply(std::uint64_t sequence, Clock::time_point deadline);

  // Runs on the I/O thread: closes the socket and fails what still waits.
  void end(const PlatformError& why);
};

}  // namespace bcn::ipc
