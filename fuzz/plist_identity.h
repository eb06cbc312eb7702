// Bit-for-bit equality of property-list values, for the fuzz targets'
// round-trip checks. PlistValue's own == follows IEEE rules (NaN differs
// from itself, 0 equals -0), and encoded bytes are no measure either:
// libplist shares equal data, array and dictionary objects only when
// their addresses happen to hash alike, so equal values may encode to
// different bytes. Test-only code.
#pragma once

#include <bit>
#include <cstdint>

#include "platform/plist.h"

namespace bcn::fuzzing {

inline bool identical(const PlistValue& a, const PlistValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case PlistValue::Kind::real:
      return std::bit_cast<std::uint64_t>(*a.real()) == std::bit_cast<std::uint64_t>(*b.real());
    case PlistValue::Kind::date:
      return std::bit_cast<std::uint64_t>(a.date()->secondsSince2001) ==
             std::bit_cast<std::uint64_t>(b.date()->secondsSince2001);
    case PlistValue::Kind::array: {
      const PlistArray& x = *a.array();
      const PlistArray& y = *b.array();
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!identical(x[i], y[i])) return false;
      }
      return true;
    }
    case PlistValue::Kind::dictionary: {
      const PlistDictionary& x = *a.dictionary();
      const PlistDictionary& y = *b.dictionary();
      if (x.size() != y.size()) return false;
      for (const auto& [key, value] : x) {
        const PlistValue* other = y.find(key);
        if (other == nullptr || !identical(value, *other)) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

}  // namespace bcn::fuzzing
