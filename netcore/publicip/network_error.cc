#include "netcore/publicip/network_error.h"

#include <netdb.h>

#include <cstring>

namespace bcn::PublicIPService {

PlatformError timedOutError() { return {kURLDomain, -1001, "The request timed out."}; }

PlatformError cancelledError() {
  return {PlatformError::kCocoaDomain, 3072, "The operation was cancelled."};
}

PlatformError resolutionError(int gaiCode, int systemErrno) {
  if (gaiCode == EAI_SYSTEM) return {kDNSDomain, gaiCode, std::strerror(systemErrno)};
  return {kDNSDomain, gaiCode, ::gai_strerror(gaiCode)};
}

PlatformError socketError(const std::error_code& error) {
  return {kPOSIXNetworkDomain, error.value(), error.message()};
}

PlatformError escapedException(const std::exception_ptr& exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    return {PlatformError::kCocoaDomain, 4, e.what()};
  } catch (...) {
  }
  return {PlatformError::kCocoaDomain, 4, "The operation couldn't be completed."};
}

std::string describe(const FetchError& error) {
  if (const auto* own = std::get_if<PublicIPError>(&error)) return own->description();
  return std::get<PlatformError>(error).description;
}

}  // namespace bcn::PublicIPService
