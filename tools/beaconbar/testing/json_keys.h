// The keys of a JSON object in order, for schema checks. Test-only code.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace bcn::cli::testing {

inline std::vector<std::string> keysOf(const nlohmann::ordered_json& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.push_back(key);
  return keys;
}

}  // namespace bcn::cli::testing
