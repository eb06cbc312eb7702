#include "tools/beaconbar/pin_resolution.h"

#include <algorithm>

#include "netcore/sysconfig/keyed_json.h"
#include "netcore/sysconfig/pin_matcher.h"
#include "tools/beaconbar/text_table.h"

namespace bcn::cli {
namespace {

// Also true for no bytes.
bool isAllZero(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

bool isGloballyUnique(const LinkAddress& address) {
  if (address.bytes.empty()) return false;
  const std::uint8_t first = address.bytes.front();
  // Bit 0: group (multicast) address; bit 1: locally administered.
  if ((first & 0x03) != 0) return false;
  return !isAllZero(address.bytes);
}

InterfaceFingerprint fingerprintOf(const InterfaceSnapshot& snapshot, const LinkIdentity* identity) {
  InterfaceFingerprint fingerprint;
  fingerprint.key = snapshot.name;
  fingerprint.name = snapshot.name;
  const auto& link = snapshot.linkAddress;
  if (link && !isAllZero(link->bytes)) fingerprint.address = link->description();
  if (identity == nullptr) return fingerprint;
  const bool physical = identity->kind.empty() || identity->hardwareBacked;
  const auto& permanent = identity->permanentAddress;
  if (physical && permanent && !isAllZero(permanent->bytes)) {
    fingerprint.key = permanent->description();
    fingerprint.permanentAddress = isGloballyUnique(*permanent);
  } else if (!identity->kind.empty()) {
    fingerprint.key = identity->kind + ":" + snapshot.name;
  }
  return fingerprint;
}

std::expected<std::vector<InterfaceFingerprint>, std::string> parsePins(std::span<const std::uint8_t> bytes) {
  const auto json = nlohmann::ordered_json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) return std::unexpected("not valid JSON");
  if (!json.is_array()) return std::unexpected("expected a JSON array of pinned interfaces");
  std::vector<InterfaceFingerprint> pins;
  for (std::size_t i = 0; i < json.size(); ++i) {
    auto pin = fingerprintFromJson(json[i]);
    if (!pin) return std::unexpected("pin " + std::to_string(i + 1) + ": " + pin.error().description);
    pins.push_back(std::move(*pin));
  }
  return pins;
}

std::vector<PinResolution> resolvePins(const std::vector<InterfaceFingerprint>& pins,
                                       const std::vector<InterfaceFingerprint>& live) {
  const auto matches = PinMatcher::resolve(pins, live);
  std::vector<PinResolution> resolutions;
  for (std::size_t i = 0; i < pins.size(); ++i) resolutions.push_back({pins[i], matches[i]});
  return resolutions;
}

std::string formatPinResolutions(const std::vector<PinResolution>& resolutions) {
  if (resolutions.empty()) return "No pins.\n";
  TextTable table;
  table.addRow({"PIN", "KEY", "RESOLVES TO"});
  for (const auto& [pin, live] : resolutions) {
    std::string target = "not present";
    if (live) target = live->name == pin.name ? live->name : live->name + " (pinned as " + pin.name + ")";
    table.addRow({pin.title.value_or(pin.name), pin.key, target});
  }
  return table.render();
}

nlohmann::ordered_json pinResolutionsJson(const std::vector<PinResolution>& resolutions) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto& [pin, live] : resolutions) {
    list.push_back({{"pin", toJson(pin)}, {"live", live ? toJson(*live) : nlohmann::ordered_json(nullptr)}});
  }
  return {{"pins", std::move(list)}};
}

}  // namespace bcn::cli
