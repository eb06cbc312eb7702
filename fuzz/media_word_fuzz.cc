// bcn_media_word_string with any word and any buffer size: the first four
// bytes are the word, the next two the size. The buffer is exactly that
// large (ASan catches a write past it) and starts out full of garbage; the
// result must be zero-terminated inside it and be the full text cut to fit.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "netcore/shim/bcn_interfaces.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  std::int32_t word;
  std::memcpy(&word, data, sizeof word);
  const std::size_t bufferSize = static_cast<std::size_t>(data[4]) | static_cast<std::size_t>(data[5]) << 8;

  // The longest text is well under 512 bytes.
  char full[512];
  bcn_media_word_string(word, full, sizeof full);
  const std::size_t fullLength = std::strlen(full);
  if (fullLength + 1 >= sizeof full) std::abort();

  std::unique_ptr<char[]> buffer(new char[bufferSize]);
  std::memset(buffer.get(), 'x', bufferSize);
  bcn_media_word_string(word, nullptr, 0);
  bcn_media_word_string(word, buffer.get(), bufferSize);
  if (bufferSize == 0) return 0;
  const void* terminator = std::memchr(buffer.get(), '\0', bufferSize);
  if (terminator == nullptr) std::abort();
  const std::size_t length = static_cast<const char*>(terminator) - buffer.get();
  if (length != std::min(fullLength, bufferSize - 1)) std::abort();
  if (std::memcmp(buffer.get(), full, length) != 0) std::abort();
  return 0;
}
