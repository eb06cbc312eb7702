#include "tray-app/tray_preferences.h"

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <system_error>

#include "netcore/sysconfig/keyed_json.h"
#include "netcore/sysconfig/pin_matcher.h"
#include "platform/files.h"
#include "tools/beaconbar/xdg_directory.h"
#include "tray-app/network_lookups.h"
#include "tray-app/tray_sources.h"

namespace bcn::tray {
namespace {

constexpr std::size_t kMaxSettingsBytes = 64 * 1024;
// The configuration directories hold the pairing token too.
constexpr std::uint32_t kDirectoryMode = 0700;
constexpr std::uint32_t kFileMode = 0644;

std::expected<void, std::string> writeWhole(const std::filesystem::path& file, std::string_view text) {
  if (file.empty()) return std::unexpected("cannot tell where to save: set XDG_CONFIG_HOME or HOME");
  if (auto made = files::createDirectories(file.parent_path(), kDirectoryMode); !made) {
    return std::unexpected("cannot save " + file.string() + ": " + made.error().description);
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  if (auto written = files::writeFileAtomically(file, {bytes, text.size()}, kFileMode); !written) {
    return std::unexpected("cannot save " + file.string() + ": " + written.error().description);
  }
  return {};
}

// A damaged file the user agreed to replace is kept for a person to read.
std::expected<void, std::string> setAsideDamaged(const std::filesystem::path& file) {
  auto aside = files::setAside(file, "damaged");
  if (!aside)
    return std::unexpected("cannot move the damaged " + file.string() + " aside: " + aside.error().description);
  return {};
}

}  // namespace

std::expected<TraySettings, std::string> parseSettings(std::string_view text) {
  const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) return std::unexpected("not valid JSON");
  if (!json.is_object()) return std::unexpected("expected a JSON object");
  TraySettings settings;
  if (const auto unit = json.find("rateUnit"); unit != json.end()) {
    if (*unit == "bytes") {
      settings.unit = RateUnit::bytes;
    } else if (*unit == "bits") {
      settings.unit = RateUnit::bits;
    } else {
      return std::unexpected("rateUnit: expected \"bytes\" or \"bits\"");
    }
  }
  if (const auto provider = json.find("provider"); provider != json.end()) {
    if (!provider->is_string()) return std::unexpected("provider: expected a string");
    if (auto known = checkProvider(provider->get<std::string>()); !known) {
      return std::unexpected("provider: " + known.error());
    }
    settings.provider = provider->get<std::string>();
  }
  return settings;
}

std::string settingsJson(const TraySettings& settings) {
  nlohmann::ordered_json json{{"rateUnit", settings.unit == RateUnit::bits ? "bits" : "bytes"},
                              {"provider", settings.provider}};
  return json.dump(2) + "\n";
}

TrayPreferences::Paths TrayPreferences::defaultPaths() {
  const auto base = cli::xdgDirectory(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), ".config");
  if (!base) return {};
  return {*base / "beaconbar" / "pins.json", *base / "beaconbar" / "tray.json",
          *base / "autostart" / "beaconbar-tray.desktop"};
}

TrayPreferences::TrayPreferences(Paths paths, std::string desktopEntry)
    : paths_(std::move(paths)), desktopEntry_(std::move(desktopEntry)) {}

void TrayPreferences::load() {
  replaceDamaged_ = false;
  auto pins = readPinsFile(paths_.pinsFile);
  pins_ = pins ? std::move(*pins) : std::vector<InterfaceFingerprint>{};
  pinsProblem_ = pins ? "" : pins.error();

  settings_ = {};
  settingsProblem_.clear();
  if (paths_.settingsFile.empty()) {
    settingsProblem_ = "cannot tell where the settings are kept: set XDG_CONFIG_HOME or HOME";
  } else if (auto bytes = files::readFile(paths_.settingsFile, kMaxSettingsBytes); !bytes) {
    if (bytes.error().domain != PlatformError::kPosixDomain || bytes.error().code != ENOENT) {
      settingsProblem_ = "cannot read " + paths_.settingsFile.string() + ": " + bytes.error().description;
    }
  } else if (auto parsed = parseSettings({reinterpret_cast<const char*>(bytes->data()), bytes->size()}); !parsed) {
    settingsProblem_ = paths_.settingsFile.string() + ": " + parsed.error();
  } else {
    settings_ = *parsed;
  }

  std::error_code error;
  startAtLogin_ = !paths_.autostartFile.empty() && std::filesystem::exists(paths_.autostartFile, error);
}

std::vector<InterfaceFingerprint> TrayPreferences::unpinned(const std::vector<InterfaceFingerprint>& live) const {
  const auto matches = PinMatcher::resolve(pins_, live);
  std::vector<InterfaceFingerprint> result;
  for (const InterfaceFingerprint& candidate : live) {
    bool taken = false;
    for (const auto& match : matches) taken |= match && *match == candidate;
    if (!taken) result.push_back(candidate);
  }
  return result;
}

void TrayPreferences::unpin(std::size_t index) {
  if (index < pins_.size()) pins_.erase(pins_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TrayPreferences::moveUp(std::size_t index) {
  if (index > 0 && index < pins_.size()) std::swap(pins_[index - 1], pins_[index]);
}

void TrayPreferences::moveDown(std::size_t index) {
  if (index + 1 < pins_.size()) std::swap(pins_[index], pins_[index + 1]);
}

std::expected<void, std::string> TrayPreferences::setProvider(const std::string& provider) {
  if (auto known = checkProvider(provider); !known) return std::unexpected(known.error());
  settings_.provider = provider;
  return {};
}

std::expected<void, std::string> TrayPreferences::save() {
  if (!replaceDamaged_) {
    if (!pinsProblem_.empty()) return std::unexpected("the pins were not saved: " + pinsProblem_);
    if (!settingsProblem_.empty()) return std::unexpected("the settings were not saved: " + settingsProblem_);
  }
  nlohmann::ordered_json pins = nlohmann::ordered_json::array();
  for (const InterfaceFingerprint& pin : pins_) pins.push_back(toJson(pin));
  if (!pinsProblem_.empty()) {
    if (auto aside = setAsideDamaged(paths_.pinsFile); !aside) return aside;
  }
  if (auto saved = writeWhole(paths_.pinsFile, pins.dump(2) + "\n"); !saved) return saved;
  pinsProblem_.clear();
  if (!settingsProblem_.empty()) {
    if (auto aside = setAsideDamaged(paths_.settingsFile); !aside) return aside;
  }
  if (auto saved = writeWhole(paths_.settingsFile, settingsJson(settings_)); !saved) return saved;
  settingsProblem_.clear();
  replaceDamaged_ = false;

  if (startAtLogin_) return writeWhole(paths_.autostartFile, desktopEntry_);
  std::error_code error;
  if (!paths_.autostartFile.empty() && !std::filesystem::remove(paths_.autostartFile, error) && error) {
    return std::unexpected("cannot remove " + paths_.autostartFile.string() + ": " + error.message());
  }
  return {};
}

}  // namespace bcn::tray
