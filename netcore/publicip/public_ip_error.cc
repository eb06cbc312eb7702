#include "netcore/publicip/public_ip_error.h"

#include <functional>

namespace bcn {

std::string PublicIPError::description() const {
  switch (kind) {
    case Kind::http:
      return "The server answered HTTP " + std::to_string(status);
    case Kind::badURL:
      return "The lookup URL isn't valid";
    case Kind::malformed:
      return "The server's response couldn't be read";
    case Kind::noAddress:
      return "The response has no IP address";
  }
  return {};
}

}  // namespace bcn

std::size_t std::hash<bcn::PublicIPError>::operator()(const bcn::PublicIPError& e) const noexcept {
  return std::hash<int>{}(static_cast<int>(e.kind)) * 31 + std::hash<std::int64_t>{}(e.status);
}
