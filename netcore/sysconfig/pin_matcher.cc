#include "netcore/sysconfig/pin_matcher.h"

#include <algorithm>
#include <string>
#include <unordered_set>

namespace bcn {

std::vector<std::optional<InterfaceFingerprint>> PinMatcher::resolve(std::span<const InterfaceFingerprint> pins,
                                                                     std::span<const InterfaceFingerprint> live) {
  // Interfaces some pin names exactly are kept for that pin.
  std::unordered_set<std::string> pinnedKeys;
  for (const InterfaceFingerprint& pin : pins) pinnedKeys.insert(pin.key);
  std::unordered_set<std::string> claimed;
  for (const InterfaceFingerprint& fingerprint : live) {
    if (pinnedKeys.contains(fingerprint.key)) claimed.insert(fingerprint.key);
  }

  std::vector<std::optional<InterfaceFingerprint>> results;
  results.reserve(pins.size());
  std::vector<const InterfaceFingerprint*> candidates;
  for (const InterfaceFingerprint& pin : pins) {
    const auto exact = std::ranges::find(live, pin.key, &InterfaceFingerprint::key);
    if (exact != live.end()) {
      results.emplace_back(*exact);
      continue;
    }
    if (pin.permanentAddress) {
      results.emplace_back();
      continue;
    }
    candidates.clear();
    for (const InterfaceFingerprint& fingerprint : live) {
      if (!fingerprint.permanentAddress && !claimed.contains(fingerprint.key)) candidates.push_back(&fingerprint);
    }
    const InterfaceFingerprint* chosen = fallback(pin, candidates);
    if (chosen == nullptr) {
      results.emplace_back();
      continue;
    }
    claimed.insert(chosen->key);
    results.emplace_back(*chosen);
  }
  return results;
}

const InterfaceFingerprint* PinMatcher::fallback(const InterfaceFingerprint& pin,
                                                 std::span<const InterfaceFingerprint* const> candidates) {
  if (pin.address) {
    for (const InterfaceFingerprint* candidate : candidates) {
      if (candidate->address == pin.address) return candidate;
    }
  }
  const auto sameName = [&](const InterfaceFingerprint* candidate) { return candidate->name == pin.name; };
  if (!pin.title) {
    const auto named = std::ranges::find_if(candidates, sameName);
    return named != candidates.end() ? *named : nullptr;
  }
  std::vector<const InterfaceFingerprint*> titled;
  for (const InterfaceFingerprint* candidate : candidates) {
    if (candidate->title == pin.title) titled.push_back(candidate);
  }
  if (titled.size() == 1) return titled.front();
  const auto named = std::ranges::find_if(titled, sameName);
  return named != titled.end() ? *named : nullptr;
}

}  // namespace bcn
