#include "tools/beaconbar/daemon_errors.h"

#include <cerrno>

#include "protocol/admin_error.h"

namespace bcn::cli {
namespace {

constexpr std::int64_t kInterrupted = 4097;
constexpr std::int64_t kInvalidated = 4099;
constexpr std::int64_t kReplyInvalid = 4101;

bool isPosix(const PlatformError& error, int code) {
  return error.domain == PlatformError::kPosixDomain && error.code == code;
}

std::string describeAdminError(AdminError error, DaemonCall call) {
  switch (error) {
    case AdminError::notPaired:
      return "not paired with the admin daemon; run: beaconbar pair";
    case AdminError::unknownService:
      return "the admin daemon knows no network service with that id; see: beaconbar services";
    case AdminError::unknownRequest:
      if (call == DaemonCall::awaitPairing) {
        return "the pairing request has expired (a newer request replaced it); run: beaconbar pair";
      }
      return "no pairing request with that id is waiting (it expired, was decided, or its beaconbar pair "
             "stopped); see: beaconbar-adminctl pending";
    case AdminError::authorizationFailed:
      if (call == DaemonCall::awaitPairing) return "the pairing request was denied by the administrator";
      return "administrator authorization failed: the admin daemon did not accept it";
    case AdminError::wrongUser:
      return "the pairing request belongs to another user; approve it as the user who ran beaconbar pair";
    case AdminError::configurationFailed:
      return "the network configuration change failed: the preferences could not be saved or applied "
             "(the admin daemon's log says why)";
    case AdminError::alreadyPending:
      return "a pairing request is already waiting for approval";
  }
  return std::string(message(error));
}

}  // namespace

std::string describeConnectError(const PlatformError& error, const std::filesystem::path& socket) {
  if (isPosix(error, ENOENT) || isPosix(error, ECONNREFUSED)) {
    return "the admin daemon is not running (nothing listens at " + socket.string() +
           "); install it with scripts/install.sh or start beaconbar-admin.socket";
  }
  if (isPosix(error, EACCES)) return "no permission to reach the admin daemon at " + socket.string();
  return "cannot reach the admin daemon at " + socket.string() + ": " + error.description;
}

std::string describeDaemonError(const PlatformError& error, DaemonCall call) {
  if (auto admin = adminErrorFromPlatformError(error)) return describeAdminError(*admin, call);
  if (error.domain == PlatformError::kCocoaDomain) {
    if (error.code == kInterrupted || error.code == kInvalidated) {
      if (call == DaemonCall::awaitPairing) {
        return "the admin daemon stopped while the request was waiting; run: beaconbar pair";
      }
      return "the admin daemon closed the connection: it admits only programs recorded in its code-identity "
             "registry (reinstall with scripts/install.sh), or it stopped";
    }
    if (error.code == kReplyInvalid) return "the admin daemon's reply was not understood (a different version?)";
  }
  if (isPosix(error, ETIMEDOUT)) return "the admin daemon did not answer in time";
  return "the admin daemon failed: " + error.description;
}

}  // namespace bcn::cli
