#include "platform/error.h"

#include <cstring>
#include <functional>

namespace bcn {

PlatformError PlatformError::fromErrno(int error, const std::string& what) {
  return {kPosixDomain, error, what + ": " + std::strerror(error)};
}

PlatformError PlatformError::fileWriteUnknown() {
  return {kCocoaDomain, 512, "The file couldn’t be saved."};
}

PlatformError PlatformError::corruptData(const std::string& what) {
  return {kCocoaDomain, 3840, what};
}

}  // namespace bcn

std::size_t std::hash<bcn::PlatformError>::operator()(const bcn::PlatformError& e) const noexcept {
  std::size_t h = std::hash<std::string>{}(e.domain);
  h = h * 31 + std::hash<std::int64_t>{}(e.code);
  return h * 31 + std::hash<std::string>{}(e.description);
}
