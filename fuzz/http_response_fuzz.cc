// An echo service's raw reply, as the lookup reads it until the server
// closes: parseHTTP over the whole input and dechunk over it as a body.
// Neither may crash, and neither result may be larger than its input.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "netcore/publicip/http_response.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  if (auto body = bcn::parseHTTP(bytes); body && body->size() > size) std::abort();
  if (auto body = bcn::dechunk(bytes); body && body->size() > size) std::abort();
  return 0;
}
