#include "netcore/publicip/public_ip_result.h"

#include <functional>

std::size_t std::hash<bcn::PublicIPResult>::operator()(const bcn::PublicIPResult& r) const noexcept {
  const std::hash<std::optional<std::string>> h;
  return (h(r.ipv4) * 31 + h(r.ipv6)) * 31 + h(r.error);
}
