// Framing of the IPC byte stream: every message is a 4-byte big-endian
// length followed by that many bytes of payload (a binary property list).
// Pure functions over bytes; no I/O.
//
// FrameReader is a single-owner value (not thread-safe): the connection that
// owns it feeds it whatever the socket delivered and takes whole frames out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

namespace bcn::ipc {

// The largest payload either side accepts. A peer that announces more is
// misbehaving and its connection is closed.
inline constexpr std::size_t kMaxFrameBytes = 1u << 20;
inline constexpr std::size_t kFrameHeaderBytes = 4;

enum class FrameError {
  tooLarge,  // the header announces more than kMaxFrameBytes
  empty,     // a zero-length frame: no property list is empty
};

// The header and payload as one buffer.
// REQUIRES: payload.size() <= kMaxFrameBytes.
std::vector<std::uint8_t> encodeFrame(std::span<const std::uint8_t> payload);

class FrameReader {
 public:
  void append(std::span<const std::uint8_t> bytes);

  // The next whole payload, nothing while more bytes are needed, or the
  // fault that makes the stream unusable (known as soon as the header is in,
  // so an oversized frame is refused before its body arrives). After an
  // error the reader keeps reporting it.
  std::expected<std::optional<std::vector<std::uint8_t>>, FrameError> next();

  // Bytes received but not yet returned in a frame.
  std::size_t buffered() const { return buffer_.size() - start_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;
  std::optional<FrameError> failed_;
};

}  // namespace bcn::ipc
