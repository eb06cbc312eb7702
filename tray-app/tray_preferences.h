// TrayPreferences: what the tray's Preferences dialog edits, without the
// dialog, so it is tested headless. It loads, edits and saves:
// - the pins: interface fingerprints in pins.json (the file the model and
//   `beaconbar pins` read), in menu order; live interfaces are matched to
//   them with PinMatcher, so an interface already pinned under another
//   name is not offered again;
// - the rate unit and the public-address provider, in tray.json beside it;
// - "Start at login": an XDG autostart entry, the tray's application entry
//   copied to $XDG_CONFIG_HOME/autostart/beaconbar-tray.desktop.
// Every file is written whole and atomically. A pins or settings file that
// cannot be read is reported and never overwritten silently: saving fails
// until the user chooses to replace it, and the damaged file is then kept
// beside it under another name.
//
// Thread: one owner; not thread-safe.
#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/sysconfig/interface_fingerprint.h"
#include "tray-app/interface_rows.h"

namespace bcn::tray {

struct TraySettings {
  RateUnit unit = RateUnit::bytes;
  std::string provider = "echoA";

  bool operator==(const TraySettings&) const = default;
};

// tray.json: {"rateUnit": "bytes"|"bits", "provider": "echoA"|"echoB"};
// a missing key keeps its default. The error names the first fault.
std::expected<TraySettings, std::string> parseSettings(std::string_view text);
std::string settingsJson(const TraySettings& settings);

class TrayPreferences {
 public:
  struct Paths {
    std::filesystem::path pinsFile;
    std::filesystem::path settingsFile;
    std::filesystem::path autostartFile;
  };
  // Under $XDG_CONFIG_HOME (or ~/.config); empty paths when neither
  // variable gives a directory.
  static Paths defaultPaths();

  // `desktopEntry` is what an autostart entry holds.
  TrayPreferences(Paths paths, std::string desktopEntry);

  // Reads all three; what cannot be read is left at its default and
  // reported by pinsProblem() / settingsProblem().
  void load();
  const std::string& pinsProblem() const { return pinsProblem_; }
  const std::string& settingsProblem() const { return settingsProblem_; }
  // Lets the next save() replace the damaged files; they are set aside.
  void replaceDamagedFiles() { replaceDamaged_ = true; }

  const std::vector<InterfaceFingerprint>& pins() const { return pins_; }
  // Those of `live` no pin resolves to, in their order.
  std::vector<InterfaceFingerprint> unpinned(const std::vector<InterfaceFingerprint>& live) const;
  void pin(const InterfaceFingerprint& live) { pins_.push_back(live); }
  // Out-of-range indexes do nothing.
  void unpin(std::size_t index);
  void moveUp(std::size_t index);
  void moveDown(std::size_t index);

  const TraySettings& settings() const { return settings_; }
  void setRateUnit(RateUnit unit) { settings_.unit = unit; }
  // Fails, changing nothing, for a provider the lookup does not know.
  std::expected<void, std::string> setProvider(const std::string& provider);

  bool startAtLogin() const { return startAtLogin_; }
  void setStartAtLogin(bool on) { startAtLogin_ = on; }

  // Writes the pins, the settings and the autostart entry (or removes it).
  // Stops at the first failure, which names the file.
  std::expected<void, std::string> save();

 private:
  Paths paths_;
  std::string desktopEntry_;
  std::vector<InterfaceFingerprint> pins_;
  TraySettings settings_;
  bool startAtLogin_ = false;
  std::string pinsProblem_;
  std::string settingsProblem_;
  bool replaceDamaged_ = false;
};

}  // namespace bcn::tray
