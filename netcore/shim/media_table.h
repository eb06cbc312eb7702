// The fixed media vocabulary: media types, their subtypes and option flags,
// as (word, text) tables ending with a terminator whose text is null.
// Read-only data, safe from any thread.
#pragma once

#include <cstdint>

namespace bcn::shim {

struct MediaName {
  std::uint32_t word;
  const char* text;  // null in the terminator
};

struct MediaTypeEntry {
  std::uint32_t type;
  const MediaName* subtypes[2];  // shared table first, then the type's own
  const MediaName* options[2];   // shared table first, then the type's own (may be null)
};

inline constexpr std::uint32_t kMediaTypeMask = 0xE0;
inline constexpr std::uint32_t kMediaSubtypeMask = 0xF001F;

inline constexpr std::uint32_t kMediaEthernet = 0x20;
inline constexpr std::uint32_t kMediaIeee80211 = 0x80;
inline constexpr std::uint32_t kMediaFullDuplex = 0x100000;
inline constexpr std::uint32_t kMediaHalfDuplex = 0x200000;

// Type table (type word, type name), terminator last.
extern const MediaName kMediaTypes[];
// One entry per type of kMediaTypes, in the same order; `type` 0 ends it.
extern const MediaTypeEntry kMediaTypeEntries[];

}  // namespace bcn::shim
