#include "platform/ipc/frame.h"

#include <cassert>

namespace bcn::ipc {

std::vector<std::uint8_t> encodeFrame(std::span<const std::uint8_t> payload) {
  assert(payload.size() <= kMaxFrameBytes);
  const auto n = static_cast<std::uint32_t>(payload.size());
  std::vector<std::uint8_t> frame;
  frame.reserve(kFrameHeaderBytes + payload.size());
  frame.push_back(static_cast<std::uint8_t>(n >> 24));
  frame.push_back(static_cast<std::uint8_t>(n >> 16));
  frame.push_back(static_cast<std::uint8_t>(n >> 8));
  frame.push_back(static_cast<std::uint8_t>(n));
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

void FrameReader::append(std::span<const std::uint8_t> bytes) {
  if (failed_) return;
  // Drop consumed bytes once they dominate, so the buffer stays near one
  // frame in size however long the stream runs.
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::expected<std::optional<std::vector<std::uint8_t>>, FrameError> FrameReader::next() {
  if (failed_) return std::unexpected(*failed_);
  if (buffered() < kFrameHeaderBytes) return std::nullopt;
  const std::uint8_t* h = buffer_.data() + start_;
  const std::uint32_t length = (std::uint32_t{h[0]} << 24) | (std::uint32_t{h[1]} << 16) |
                               (std::uint32_t{h[2]} << 8) | std::uint32_t{h[3]};
  if (length > kMaxFrameBytes) failed_ = FrameError::tooLarge;
  if (length == 0) failed_ = FrameError::empty;
  if (failed_) {
    buffer_.clear();
    start_ = 0;
    return std::unexpected(*failed_);
  }
  if (buffered() < kFrameHeaderBytes + length) return std::nullopt;
  const auto body = buffer_.begin() + static_cast<std::ptrdiff_t>(start_ + kFrameHeaderBytes);
  std::vector<std::uint8_t> payload(body, body + length);
  start_ += kFrameHeaderBytes + length;
  if (start_ == buffer_.size()) {
    // Nothing is waiting: give the memory back, so that a connection that
    // once sent a large frame does not keep its size while idle.
    std::vector<std::uint8_t>().swap(buffer_);
    start_ = 0;
  }
  return payload;
}

}  // namespace bcn::ipc
