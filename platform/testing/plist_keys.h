// Test-only: the keys of a dictionary in the order it holds them, for
// checking what an encoder writes and in which order.
#pragma once

#include <string>
#include <vector>

#include "platform/plist.h"

namespace bcn::testing {

inline std::vector<std::string> keysOf(const PlistDictionary& dictionary) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : dictionary) keys.push_back(key);
  return keys;
}

}  // namespace bcn::testing
