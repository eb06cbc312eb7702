// The listening sockets of the services: one Unix stream socket per service,
// named after the service in the runtime directory. Under systemd socket
// activation the sockets come ready-made from the .socket unit (named after
// the services); otherwise the service binds them itself.
//
// Thread-safe functions; each returned descriptor belongs to the caller.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/error.h"

namespace bcn::ipc {

// $RUNTIME_DIRECTORY (its first entry), or /run/beaconbar. Read at each call.
std::filesystem::path runtimeDirectory();

// Where the socket of `serviceName` lives: runtimeDirectory()/serviceName.
std::filesystem::path servicePath(std::string_view serviceName);

// The listening Unix stream socket systemd passed under the name `name`
// (FileDescriptorName= in the .socket unit), if any. Leaves the activation
// environment in place so that every service can look for its own.
std::optional<int> activatedSocket(std::string_view name);

// Binds and listens on `path`: the directory is created with mode 0755 when
// missing and the socket is made 0666 (every user may connect; the services
// check their peers themselves). A socket left behind by a process that is
// gone is replaced; a path where a live service answers (EADDRINUSE) or
// that is not a socket (EEXIST) is left alone. The new socket is bound under
// a temporary name and renamed into place, so the path never names a
// half-made socket.
std::expected<int, PlatformError> bindServiceSocket(const std::filesystem::path& path);

// The activated socket for `serviceName`, else a socket bound at
// servicePath(serviceName).
std::expected<int, PlatformError> openServiceSocket(std::string_view serviceName);

}  // namespace bcn::ipc
