// Finding the address in an echo service's answer. The first byte chooses
// the JSON key path: 0 none, 1 empty, otherwise the next (byte % 32) bytes
// are the path; the rest is the body. Whatever comes back must be an
// address.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string_view>

#include "netcore/publicip/address_extraction.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  std::span<const std::uint8_t> rest(data + 1, size - 1);
  std::optional<std::string_view> keyPath;
  if (mode == 1) {
    keyPath = std::string_view{};
  } else if (mode > 1) {
    const std::size_t length = std::min<std::size_t>(mode % 32, rest.size());
    keyPath = std::string_view(reinterpret_cast<const char*>(rest.data()), length);
    rest = rest.subspan(length);
  }
  const auto address = bcn::PublicIPService::extractAddress(rest, keyPath);
  if (address && !bcn::PublicIPService::isIPAddress(*address)) std::abort();
  return 0;
}
