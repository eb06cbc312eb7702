// Test-only: looks an interface up by name in a reading.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "netcore/interfaces/interface_snapshot.h"

namespace bcn::testing {

// The snapshot named `name` in `list`, or nullptr when the reading has none.
inline const InterfaceSnapshot* find(const std::vector<InterfaceSnapshot>& list, const std::string& name) {
  auto it = std::find_if(list.begin(), list.end(), [&](const InterfaceSnapshot& s) { return s.name == name; });
  return it == list.end() ? nullptr : &*it;
}

}  // namespace bcn::testing
