// How the tool reaches the admin daemon's app service, where it keeps the
// pairing token, and tunnel owners read directly or through the daemon.
// Failures come back as the one line the tool prints (daemon_errors.h).
//
// Thread-safe functions. The client starts an I/O thread: create a
// SignalWaiter before connecting when the command waits for Ctrl-C.
#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <string>

#include "client/admin_app_client.h"
#include "tools/beaconbar/tunnel_format.h"

namespace bcn::cli {

std::expected<AdminAppClient, std::string> connectAppService();

// The token file for this user (token_file.h).
std::expected<std::filesystem::path, std::string> tokenPath();

// Directly as root (only root sees every process's descriptors; a partial
// list would look complete), otherwise from the daemon, which runs as
// root; `timeout` bounds the daemon's answer.
std::expected<TunnelOwnerMap, std::string> readTunnelOwners(std::chrono::milliseconds timeout);

}  // namespace bcn::cli
