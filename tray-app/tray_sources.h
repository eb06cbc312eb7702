// The tray's readings of this machine: the kernel's interfaces through
// InterfaceReader, their fingerprints, the network configuration through
// SystemConfigurationReader, the change watcher over the default
// preferences, and the user's pins file.
//
// Thread-safe functions; the sources they return are for the GUI thread.
#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "tray-app/tray_model.h"

namespace bcn::tray {

// $XDG_CONFIG_HOME/beaconbar/pins.json (~/.config/... when XDG_CONFIG_HOME
// is unset, empty or relative); empty when neither gives a directory.
std::filesystem::path defaultPinsPath();

// The pins in `file`: none when it does not exist; an error naming the
// file and the fault when it cannot be read or is not a pins file.
std::expected<std::vector<InterfaceFingerprint>, std::string> readPinsFile(const std::filesystem::path& file);

// $XDG_STATE_HOME/beaconbar/history.plist, as the command line keeps it;
// empty when neither XDG_STATE_HOME nor HOME gives a directory.
std::filesystem::path defaultHistoryPath();

TraySources liveTraySources(const std::filesystem::path& pinsFile, const std::filesystem::path& historyFile);

}  // namespace bcn::tray
