#include "protocol/admin_error.h"

#include <string>

namespace bcn {

std::optional<AdminError> adminErrorFromRawValue(std::int64_t raw) {
  if (raw < rawValue(AdminError::notPaired) || raw > rawValue(AdminError::alreadyPending)) {
    return std::nullopt;
  }
  return static_cast<AdminError>(raw);
}

std::string_view message(AdminError e) {
  switch (e) {
    case AdminError::notPaired:
      return "This app isn't paired with the admin helper";
    case AdminError::unknownService:
      return "No such network service";
    case AdminError::unknownRequest:
      return "The pairing request has expired";
    case AdminError::authorizationFailed:
      return "Administrator authorization failed";
    case AdminError::wrongUser:
      return "The pairing request belongs to another user";
    case AdminError::configurationFailed:
      return "macOS refused the network configuration change";
    case AdminError::alreadyPending:
      return "A pairing request is already waiting for approval";
  }
  return "";
}

PlatformError toPlatformError(AdminError e) {
  return {std::string(adminErrorDomain), rawValue(e), std::string(message(e))};
}

std::optional<AdminError> adminErrorFromPlatformError(const PlatformError& error) {
  if (error.domain != adminErrorDomain) return std::nullopt;
  return adminErrorFromRawValue(error.code);
}

}  // namespace bcn
