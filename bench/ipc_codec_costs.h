// Where a lone call's CPU goes outside the kernel: the encoding and decoding
// of one statusWithToken:reply: call and reply, each timed in a tight loop,
// beside the property-list library's own encoder and decoder on the same
// messages (what no change of ours can take away).
//
// printCodecCosts is not thread-safe; run it while nothing else is
// measured. A LibraryCoding may be used by several threads at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace bcn::bench {

// Prints one line per step, in microseconds per message.
void printCodecCosts(std::FILE* out);

// The library's own part of coding one message: its nodes, read once from
// our encoding of the message, written out again on every encode, and any
// received payload read into nodes and dropped on every decode. Nothing of
// ours runs around it, so it is what the wire format costs at the least.
class LibraryCoding {
 public:
  explicit LibraryCoding(std::span<const std::uint8_t> payload);
  ~LibraryCoding();
  LibraryCoding(const LibraryCoding&) = delete;
  LibraryCoding& operator=(const LibraryCoding&) = delete;

  // False when the library could not read the message it was given.
  bool valid() const { return nodes_ != nullptr; }
  // Replaces `frame` with the message as a frame: the 4-byte length, then
  // the library's encoding. REQUIRES: valid().
  bool encodeFrame(std::vector<std::uint8_t>& frame) const;
  // Whether the library reads `payload` as a property list.
  static bool decode(std::span<const std::uint8_t> payload);

 private:
  void* nodes_ = nullptr;  // a plist_t
};

}  // namespace bcn::bench
